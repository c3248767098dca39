#!/usr/bin/perl
# firmware_update.pl - shows the progress of a firmware download and keeps
# its last state in ROOT/tmp/firmware-status (format in LmProgress.pm).
#
#   perl firmware_update.pl --action UPDATE --updatePID PID --status download \
#        --downloaded_size BYTES --total_size BYTES --version VERSION
#
# Exit status 0, or 1 for a bad command line; the update client ignores it.
use strict;
# -w: warnings on everywhere without loading warnings.pm, which would cost
# as much as the rest of the start-up.
BEGIN { $^W = 1 }
# The shared modules lie next to the script; FindBin and lib cost more.
BEGIN { unshift @INC, $0 =~ m{^(.*)/} ? $1 : '.' }
use LmProgress;
use LmScript;

my %opt = (action => 'UPDATE', status => '', downloaded_size => 0, total_size => 0,
    version => '');
LmScript::get_options(\%opt, 'action=s', 'updatePID=i', 'status=s', 'downloaded_size=i',
    'total_size=i', 'version=s')
    && defined $opt{updatePID} && $opt{status} ne ''
    or die "usage: firmware_update.pl --action UPDATE --updatePID PID --status STATUS"
        . " [--downloaded_size BYTES --total_size BYTES] [--version VERSION]\n";

LmProgress::report(file => 'firmware-status', subject => "firmware $opt{version}",
    action => $opt{action}, status => $opt{status},
    downloaded => $opt{downloaded_size}, total => $opt{total_size});
