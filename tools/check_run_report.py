#!/usr/bin/python3
"""Checks what LmUpdate leaves after a run, for the tests.

Usage:
  check_run_report.py validate REPORT SCHEMA
      REPORT (a JSON file) against SCHEMA (JSON Schema 2020-12): exit 0, or
      print the first error and exit 1.
  check_run_report.py metrics FILE
      FILE parsed as the Prometheus text format; each sample printed as one
      JSON line {"name": ..., "labels": {...}, "value": ...}; exit 1 on a
      parse error.

Needs Debian's python3-jsonschema and python3-prometheus-client.
"""

import json
import sys

USAGE = "usage: check_run_report.py validate REPORT SCHEMA | metrics FILE"


def load_json(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def validate(report_path, schema_path):
    import jsonschema

    try:
        report = load_json(report_path)
        schema = load_json(schema_path)
    except (OSError, ValueError) as e:
        print("%s" % e)
        return 1
    validator = jsonschema.Draft202012Validator(schema)
    first = next(iter(validator.iter_errors(report)), None)
    if first is None:
        return 0
    where = "/".join(str(p) for p in first.absolute_path) or "(document)"
    print("%s: %s" % (where, first.message))
    return 1


def metrics(path):
    from prometheus_client.parser import text_string_to_metric_families

    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
        # The parser is lazy: a bad line only shows while iterating.
        samples = [sample for family in text_string_to_metric_families(text)
                   for sample in family.samples]
    except (OSError, ValueError, UnicodeDecodeError) as e:
        print("%s: %s" % (path, e))
        return 1
    for sample in samples:
        print(json.dumps({"name": sample.name, "labels": dict(sample.labels),
                          "value": sample.value}, sort_keys=True))
    return 0


def main(argv):
    if len(argv) == 4 and argv[1] == "validate":
        return validate(argv[2], argv[3])
    if len(argv) == 3 and argv[1] == "metrics":
        return metrics(argv[2])
    print(USAGE, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
