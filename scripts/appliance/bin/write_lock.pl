#!/usr/bin/perl
# write_lock.pl - the update client's cross-process write lock.
#
#   perl write_lock.pl --action LOCK|TRYLOCK|UNLOCK --pid PID --timeout SECONDS
#
# The lock is held on behalf of a process id, not of this short-lived script:
# the owner's pid is kept in ROOT/tmp/write-lock, where ROOT is $REGISTER_DIR
# (or, when that is unset, the directory above the one holding this script).
# Every look at or change of that file happens under an flock on
# ROOT/tmp/write-lock.guard, so concurrent callers never both win. The guard
# is polled, never waited for: whoever holds it for longer than our time-out
# (plus one second for a caller that is just looking) makes us give up.
#
#   LOCK     takes the lock for PID, waiting up to SECONDS for another owner
#            to release it.
#   TRYLOCK  takes the lock for PID only if it is free at once.
#   UNLOCK   releases the lock held by PID.
#
# A lock whose owner process no longer exists is stale and is taken over.
# Taking a lock PID already holds succeeds; so does releasing a free lock.
#
# Exit status:
#   0  the lock was obtained (LOCK, TRYLOCK) or released (UNLOCK)
#   1  the lock is held by another live process (TRYLOCK at once, LOCK after
#      the time-out), or its guard stayed taken as long
#   2  UNLOCK by a process that does not hold the lock
#   4  bad command line, or the lock files cannot be used (for UNLOCK also:
#      the guard stayed taken)
use strict;
# -w: warnings on everywhere without loading warnings.pm, which would cost
# as much as the rest of the start-up.
BEGIN { $^W = 1 }
# Nothing imported: Exporter's import costs more than the modules.
use Fcntl ();
# LmScript lies next to the script; FindBin and lib cost more.
BEGIN { unshift @INC, $0 =~ m{^(.*)/} ? $1 : '.' }
use LmScript;

my %opt = (action => '', pid => 0, timeout => 0);
LmScript::get_options(\%opt, 'action=s', 'pid=i', 'timeout=i') or usage();
my ($action, $pid, $timeout) = (uc $opt{action}, $opt{pid}, $opt{timeout});
usage() unless $action =~ /^(LOCK|TRYLOCK|UNLOCK)$/ && $pid > 0 && $timeout >= 0;

my $dir = LmScript::root() . '/tmp';
mkdir $dir unless -d $dir;
my $ownerFile = "$dir/write-lock";
my $guardFile = "$dir/write-lock.guard";
# When waiting for the guard ends; set at the first wait for it.
my $guardDeadline;

exit unlock() if $action eq 'UNLOCK';
exit 0 if try_take();
# Only a wait needs the clock.
require Time::HiRes;
my $deadline = Time::HiRes::time() + ($action eq 'LOCK' ? $timeout : 0);
while (1) {
    exit 1 if Time::HiRes::time() >= $deadline;
    Time::HiRes::sleep(0.1);
    exit 0 if try_take();
}

sub usage {
    print STDERR "usage: write_lock.pl --action LOCK|TRYLOCK|UNLOCK --pid PID --timeout SECONDS\n";
    exit 4;
}

# Runs code while holding the guard; the guard goes when the handle closes.
sub guarded {
    my ($code) = @_;
    # With an empty root the files lie in /tmp: never follow a planted link.
    sysopen(my $guard, $guardFile, Fcntl::O_RDWR() | Fcntl::O_CREAT() | Fcntl::O_NOFOLLOW(), 0600) or fail("$guardFile: $!");
    take_guard($guard);
    my $result = $code->();
    close $guard;
    return $result;
}

# Polls the guard until our time-out has passed; then ends the script as
# for a lock held by another process.
sub take_guard {
    my ($guard) = @_;
    while (!flock($guard, Fcntl::LOCK_EX() | Fcntl::LOCK_NB())) {
        fail("$guardFile: $!") unless $!{EWOULDBLOCK};
        require Time::HiRes;
        $guardDeadline //= Time::HiRes::time() + ($action eq 'LOCK' ? $timeout : 0) + 1;
        if (Time::HiRes::time() >= $guardDeadline) {
            fail("$guardFile: held by another process") if $action eq 'UNLOCK';
            exit 1;
        }
        Time::HiRes::sleep(0.02);
    }
}

sub owner {
    open(my $in, '<', $ownerFile) or return 0;
    my $line = <$in> // '';
    close $in;
    return $line =~ /^(\d+)/ ? $1 : 0;
}

sub alive {
    my ($who) = @_;
    return $who > 0 && (kill(0, $who) || $!{EPERM});
}

sub try_take {
    return guarded(sub {
        my $current = owner();
        return 1 if $current == $pid;
        return 0 if alive($current);
        my ($out, $new) = LmScript::unique_file($dir, 'write-lock.');
        fail("$dir: $!") unless $out;
        chmod 0644, $new;
        print $out "$pid\n";
        close $out or fail("$new: $!");
        rename($new, $ownerFile) or fail("$ownerFile: $!");
        return 1;
    });
}

sub unlock {
    return guarded(sub {
        my $current = owner();
        return 0 if $current == 0 || !alive($current) && $current != $pid;
        return 2 if $current != $pid;
        unlink $ownerFile or fail("$ownerFile: $!");
        return 0;
    });
}

sub fail {
    print STDERR "write_lock.pl: @_\n";
    exit 4;
}
