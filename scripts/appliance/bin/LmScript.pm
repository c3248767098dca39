# LmScript - what the three appliance scripts share: their command-line
# options, their installation root and unique new files.
#
# The update client starts a script for every progress report and around
# every installation, and its download stands still while one runs, so this
# module and the scripts load nothing but small core modules: a script's
# start-up costs a few milliseconds, not the tens that Getopt::Long,
# File::Temp, File::Spec and FindBin together would add.
package LmScript;

use strict;
# Warnings come from the scripts' $^W; nothing is imported, as Exporter's
# import costs more than the modules.
use Fcntl ();

# The installation root: $REGISTER_DIR, or the directory above the one that
# holds the running script, without a trailing "/".
sub root {
    my $root = $ENV{REGISTER_DIR};
    if (!defined $root) {
        my $script = $0;
        if ($script !~ m{^/}) {
            require Cwd;
            $script = Cwd::getcwd() . "/$script";
        }
        ($root = $script) =~ s{/+[^/]*/+[^/]*$}{};
    }
    $root =~ s{/+$}{};
    return $root;
}

# get_options(\%opt, 'name=s', 'count=i', ...): reads "--name value",
# "--name=value" (one or two dashes, any case, any unique abbreviation) into
# %opt; other words stay in @ARGV. Prints what is wrong and returns false
# for an unknown or ambiguous option, a missing value or an "=i" value that
# is not a whole number.
sub get_options {
    my ($opt, @formats) = @_;
    my %type = map { /^(\w+)=([si])$/ ? ($1 => $2) : () } @formats;
    my ($ok, @rest) = (1);
    while (@ARGV) {
        my $word = shift @ARGV;
        if ($word eq '--') {
            push @rest, @ARGV;
            last;
        }
        my ($given, $value) = $word =~ /^--?(\w+)(?:=(.*))?$/s or do {
            push @rest, $word;
            next;
        };
        my @names = grep { lc($_) eq lc($given) } keys %type;
        @names = grep { index(lc($_), lc($given)) == 0 } keys %type unless @names;
        if (@names != 1) {
            print STDERR @names ? "Option $given is ambiguous\n" : "Unknown option: $given\n";
            $ok = 0;
            next;
        }
        my $name = $names[0];
        if (!defined $value) {
            if (!@ARGV) {
                print STDERR "Option $name requires an argument\n";
                $ok = 0;
                next;
            }
            $value = shift @ARGV;
        }
        if ($type{$name} eq 'i' && $value !~ /^[-+]?\d+$/) {
            print STDERR "Value \"$value\" invalid for option $name (number expected)\n";
            $ok = 0;
            next;
        }
        $opt->{$name} = $type{$name} eq 'i' ? $value + 0 : $value;
    }
    @ARGV = @rest;
    return $ok;
}

# A new file named prefix and six random characters in dir, created for
# writing with mode 0600; never an existing file or a planted link. Returns
# (handle, path), or nothing when no such file can be made.
sub unique_file {
    my ($dir, $prefix) = @_;
    my @chars = ('A' .. 'Z', 'a' .. 'z', '0' .. '9', '_');
    for (1 .. 100) {
        my $path = "$dir/$prefix" . join('', map { $chars[rand @chars] } 1 .. 6);
        if (sysopen(my $out, $path,
                Fcntl::O_WRONLY() | Fcntl::O_CREAT() | Fcntl::O_EXCL() | Fcntl::O_NOFOLLOW(), 0600)) {
            return ($out, $path);
        }
        return unless $!{EEXIST};
    }
    return;
}

1;
