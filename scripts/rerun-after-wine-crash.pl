#!/usr/bin/perl
# Runs a GoogleTest program under Wine for CTest, as the program's emulator:
#     rerun-after-wine-crash.pl RERUN_LOG WINE_RUN PROGRAM [ARGUMENT...]
# Wine 8 itself now and then dies of SIGSEGV when a process ends while one of its threads is
# still starting, and GoogleTest on Windows starts a thread (its watcher of the main thread) at
# the first skip or failure, which can come just before the program ends. So a run that died of
# a signal after its summary had reported every test passed or skipped is run once more, and
# named in RERUN_LOG and in the output. A failed test, an exit code (a Windows exception code
# among them) or a second death stands.
use strict;
use warnings;

my $rerun_log = shift @ARGV;
my $program = $ARGV[1] // $ARGV[0];
$| = 1;

# Passes the command's output on; returns its wait status (the signal in the low bits, which a
# shell would fold into 128+N like an exit code) and its output.
sub run_once {
    open(my $from, '-|', 'sh', '-c', 'exec "$@" 2>&1', 'sh', @ARGV) or die "cannot start $ARGV[0]: $!\n";
    my $output = '';
    while (my $line = <$from>) {
        print $line;
        $output .= $line;
    }
    close($from);
    return ($?, $output);
}

# GoogleTest's summary always has its "[  PASSED  ]" line, and "[  FAILED  ]" lines when a test
# failed. A Windows program's lines end in CR LF.
sub all_passed_or_skipped {
    my ($output) = @_;
    return $output =~ /^\[  PASSED  \] \d+ tests?\.\r?$/m && $output !~ /^\[  FAILED  \]/m;
}

my ($status, $output) = run_once();
if (($status & 127) && all_passed_or_skipped($output)) {
    my $note = sprintf("%s died of signal %d after every test passed or skipped: run once more (%s)",
                       $program, $status & 127, join(' ', @ARGV[2 .. $#ARGV]) =~ s/\s+/ /gr);
    print "\n$note\n\n";
    open(my $log, '>>', $rerun_log) or die "cannot write $rerun_log: $!\n";
    print $log "$note\n";
    close($log);
    ($status, $output) = run_once();
}
if (my $signal = $status & 127) {
    # Ends as the program did, so that CTest names the signal.
    kill $signal, $$;
    exit 128 + $signal;
}
exit($status >> 8);
