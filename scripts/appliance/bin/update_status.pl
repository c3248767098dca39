#!/usr/bin/perl
# update_status.pl - shows the progress of a product update and keeps its
# last state in ROOT/tmp/update-status (format in LmProgress.pm).
#
#   perl update_status.pl --action update --id ID --status request|install
#   perl update_status.pl --action update --id ID --status download \
#        --downloaded_size BYTES --total_size BYTES
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

my %opt = (action => 'update', status => '', downloaded_size => 0, total_size => 0);
LmScript::get_options(\%opt, 'action=s', 'id=i', 'status=s', 'downloaded_size=i', 'total_size=i')
    && defined $opt{id} && $opt{status} ne ''
    or die "usage: update_status.pl --action update --id ID --status STATUS"
        . " [--downloaded_size BYTES --total_size BYTES]\n";

LmProgress::report(file => 'update-status', subject => "product $opt{id}",
    action => $opt{action}, status => $opt{status},
    downloaded => $opt{downloaded_size}, total => $opt{total_size});
