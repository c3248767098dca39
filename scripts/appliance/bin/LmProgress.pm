# LmProgress - what update_status.pl and firmware_update.pl share: keeping the
# last reported state in a small status file below the installation root, and
# showing the report to a person.
#
# Status file (ROOT/tmp/update-status or ROOT/tmp/firmware-status), one
# "name=value" per line, replaced atomically on every report:
#   subject=product 5          what the report is about
#   action=update              the --action word as given
#   status=download            request, download, install, ...
#   downloaded=1024            bytes so far (download only)
#   total=4096                 bytes in all (download only)
#   percent=25
#   rate=10240                 bytes per second since the download started
#   started=1700000000.25      when the download started (epoch seconds)
#   startbytes=0               bytes already there when it started
#   updated=1700000004.25      time of this report
#   bar=1                      a progress bar line is open on the terminal
# ROOT is $REGISTER_DIR, or the directory above the one holding the script.
#
# On a terminal, download reports redraw one progress bar line in place on
# standard error; elsewhere every report prints one plain line there. With
# LM_LOG_FORMAT=journal (the update client's lines carry the journal's
# priority prefixes) every report is a plain line starting with "<6>".
package LmProgress;

use strict;
# Warnings come from the scripts' $^W; nothing is imported, as Exporter's
# import costs more than the module.
use Time::HiRes ();
use LmScript;

sub read_state {
    my ($path) = @_;
    my %state;
    open(my $in, '<', $path) or return %state;
    while (my $line = <$in>) {
        chomp $line;
        $state{$1} = $2 if $line =~ /^(\w+)=(.*)$/;
    }
    close $in;
    return %state;
}

sub write_state {
    my ($path, %state) = @_;
    (my $dir = $path) =~ s{/[^/]*$}{};
    mkdir $dir unless -d $dir;
    # A unique new file, never a guessable name: with an empty root this is
    # /tmp, where a planted link could otherwise redirect the write.
    my ($out, $new) = LmScript::unique_file($dir, '.status.');
    return unless $out;
    chmod 0644, $new;
    print $out "$_=$state{$_}\n" for sort keys %state;
    close $out or return unlink $new;
    rename($new, $path) or unlink $new;
}

sub human {
    my ($bytes) = @_;
    my @units = ('B', 'KiB', 'MiB', 'GiB');
    my $unit = 0;
    while ($bytes >= 1024 && $unit < $#units) {
        $bytes /= 1024;
        $unit++;
    }
    return $unit ? sprintf('%.1f %s', $bytes, $units[$unit]) : "$bytes B";
}

# Where a download starts afresh: a new subject or status, or fewer bytes.
sub download_start {
    my ($old, $new) = @_;
    my $continues = ($old->{subject} // '') eq $new->{subject}
        && ($old->{status} // '') eq 'download'
        && ($old->{downloaded} // 0) <= $new->{downloaded}
        && defined $old->{started};
    return $continues ? ($old->{started}, $old->{startbytes} // 0)
        : ($new->{updated}, $new->{downloaded});
}

sub progress_fields {
    my ($old, $new) = @_;
    my ($started, $startbytes) = download_start($old, $new);
    my $elapsed = $new->{updated} - $started;
    $new->{started} = $started;
    $new->{startbytes} = $startbytes;
    $new->{rate} = $elapsed > 0 ? int(($new->{downloaded} - $startbytes) / $elapsed) : 0;
    $new->{percent} = $new->{total} > 0 ? int(100 * $new->{downloaded} / $new->{total}) : 0;
    $new->{percent} = 100 if $new->{percent} > 100;
}

sub bar_line {
    my ($s) = @_;
    my $width = 24;
    my $filled = int($width * $s->{percent} / 100);
    return sprintf('%s [%s%s] %3d%% %s / %s %s/s', $s->{subject}, '#' x $filled,
        '-' x ($width - $filled), $s->{percent}, human($s->{downloaded}),
        human($s->{total}), human($s->{rate}));
}

my %phrase = (request => 'asking the update servers', install => 'installing');

sub plain_line {
    my ($s) = @_;
    return "$s->{subject}: " . ($phrase{$s->{status}} // $s->{status})
        unless $s->{status} eq 'download';
    return sprintf('%s: download %d of %d bytes (%d%%), %s/s', $s->{subject},
        $s->{downloaded}, $s->{total}, $s->{percent}, human($s->{rate}));
}

sub show {
    my ($old, $new) = @_;
    if (($ENV{LM_LOG_FORMAT} // '') eq 'journal') {
        print STDERR '<6>', plain_line($new), "\n";
        return;
    }
    if (!-t STDERR) {
        print STDERR plain_line($new), "\n";
        return;
    }
    if ($new->{status} eq 'download') {
        print STDERR "\r", bar_line($new), "\e[K";
        $new->{bar} = 1;
        return;
    }
    print STDERR "\n" if $old->{bar};
    print STDERR plain_line($new), "\n";
}

# report(file => 'update-status', subject => 'product 5', action => ...,
#        status => ..., downloaded => N, total => N)
sub report {
    my (%args) = @_;
    my $path = LmScript::root() . "/tmp/$args{file}";
    my %old = read_state($path);
    my %new = (subject => $args{subject}, action => $args{action} // '',
        status => $args{status} // '', updated => sprintf('%.2f', Time::HiRes::time()), bar => 0);
    if ($new{status} eq 'download') {
        $new{downloaded} = $args{downloaded} // 0;
        $new{total} = $args{total} // 0;
        progress_fields(\%old, \%new);
    }
    show(\%old, \%new);
    write_state($path, %new);
}

1;
