#!/usr/bin/perl
# make-workbook.pl OUT.xls [ROWS]
#
# Writes a real Excel 97-2003 workbook (BIFF8) from tab-separated lines read
# from the file ROWS or from standard input (UTF-8), one line per worksheet
# row, starting at row 1:
#   - every cell is written as text, so exam numbers keep their leading zeros;
#     a cell "#<number>" (e.g. "#20230001") is written as a number instead;
#   - an empty cell stays empty, an empty line is an empty row; a cell of
#     two double quotes ("") is a text cell holding the empty text;
#   - a line "--sheet NAME" starts a further worksheet named NAME (before the
#     first row it names the first worksheet, which is otherwise "Sheet1").
use strict;
use warnings;
use Encode qw(decode);
use Spreadsheet::WriteExcel;

@ARGV == 1 || @ARGV == 2 or die "usage: make-workbook.pl OUT.xls [ROWS]\n";
my $input = \*STDIN;
if (@ARGV == 2) {
    open($input, '<', $ARGV[1]) or die "make-workbook.pl: cannot read $ARGV[1]: $!\n";
}
my $workbook = Spreadsheet::WriteExcel->new($ARGV[0])
    or die "make-workbook.pl: cannot write $ARGV[0]: $!\n";

my $sheet;
my $row = 0;
while (my $line = <$input>) {
    $line = decode('UTF-8', $line, Encode::FB_CROAK);
    $line =~ s/\r?\n\z//;
    if ($line =~ /\A--sheet (.+)\z/) {
        $sheet = $workbook->add_worksheet($1);
        $row = 0;
        next;
    }
    $sheet //= $workbook->add_worksheet('Sheet1');
    my @cells = split /\t/, $line, -1;
    for my $col (0 .. $#cells) {
        my $cell = $cells[$col];
        next if $cell eq '';
        if ($cell eq '""') {
            $sheet->write_string($row, $col, '');
        } elsif ($cell =~ /\A#([-+]?[0-9]+(?:\.[0-9]+)?)\z/) {
            $sheet->write_number($row, $col, $1);
        } else {
            $sheet->write_string($row, $col, $cell);
        }
    }
    $row++;
}
$workbook->add_worksheet('Sheet1') unless $sheet;
$workbook->close() or die "make-workbook.pl: cannot write $ARGV[0]: $!\n";
