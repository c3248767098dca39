#!/usr/bin/perl
# Checks a man page against its program's --help text: every option of the
# help text is described in the page, every option the page describes is in
# the help text, and groff (when installed) formats the page without a
# warning.
#
#   perl check_man_pages.pl PROGRAM MANPAGE
#
# Exit status 0 when the page agrees, 1 otherwise (the differences are
# printed).
use strict;
use warnings;

@ARGV == 2 or die "usage: check_man_pages.pl PROGRAM MANPAGE\n";
my ($program, $page) = @ARGV;

sub options_in {
    my ($text) = @_;
    my %found;
    $found{$1} = 1 while $text =~ /(?:^|[\s\/(,\[])(--?[A-Za-z][A-Za-z-]*)/mg;
    return %found;
}

sub mentions {
    my ($text, $option) = @_;
    return $text =~ /(?<![\w-])\Q$option\E(?![\w-])/;
}

# A cross-built program runs under the emulator the tests were given.
my $emulator = $ENV{LM_TEST_EMULATOR} // '';
my $help = `$emulator "$program" --help`;
$? == 0 or die "$program --help exited with status " . ($? >> 8) . "\n";

open(my $in, '<', $page) or die "$page: $!\n";
my $source = do { local $/; <$in> };
close $in;
(my $plain = $source) =~ s/\\-/-/g;

# The options the page describes: the tagged paragraphs of its OPTIONS section.
my ($section) = $plain =~ /^\.SH OPTIONS\n(.*?)^\.SH /ms;
defined $section or die "$page: no OPTIONS section\n";
my %described;
while ($section =~ /^\.TP\n(.*)$/mg) {
    my %tagged = options_in($1);
    @described{keys %tagged} = values %tagged;
}

my @errors;
my %helped = options_in($help);
for my $option (sort keys %helped) {
    push @errors, "$option is in the help text but not in $page"
        unless mentions($plain, $option);
}
for my $option (sort keys %described) {
    push @errors, "$page describes $option, which the help text lacks"
        unless mentions($help, $option);
}
push @errors, "$page describes no option" unless %described;

my $groff = `command -v groff 2>/dev/null`;
if ($groff ne '') {
    my $warnings = `groff -man -ww -z "$page" 2>&1`;
    push @errors, "groff: $warnings" if $warnings ne '' || $? != 0;
}

print "$_\n" for @errors;
exit(@errors ? 1 : 0);
