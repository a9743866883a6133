# Reads one message with Perl's MIME-tools (Debian libmime-tools-perl), a
# second reader for Tegalo's send tests, and writes what it found:
#
#     perl wire_check.pl MESSAGE OUTDIR
#
# OUTDIR/subject     the decoded subject (UTF-8)
# OUTDIR/partN.name  for each part after the text (N from 1): the file name
#                    MIME-tools recommends, decoded (UTF-8)
# OUTDIR/partN.data  its decoded bytes
use strict;
use warnings;
use Encode qw(decode encode);
use MIME::Parser;
use MIME::Words qw(decode_mimewords);

my ($path, $out) = @ARGV;

sub write_file {
    my ($name, $content) = @_;
    open(my $fh, '>:raw', "$out/$name") or die "$out/$name: $!";
    print $fh $content;
    close($fh);
}

# Encoded words to UTF-8, whatever charset each word is in.
sub words_to_utf8 {
    my ($text) = @_;
    my $result = '';
    foreach my $word (decode_mimewords($text)) {
        my ($bytes, $charset) = @$word;
        $result .= defined $charset ? decode($charset, $bytes) : decode('UTF-8', $bytes);
    }
    return encode('UTF-8', $result);
}

my $parser = MIME::Parser->new;
$parser->output_to_core(1);
$parser->decode_headers(0);
my $entity = $parser->parse_open($path);
my $subject = $entity->head->get('Subject') // '';
$subject =~ s/\r?\n$//;
$subject =~ s/\r?\n[ \t]//g;
write_file('subject', words_to_utf8($subject));
my @parts = $entity->parts;
shift @parts;    # the text
my $n = 0;
foreach my $part (@parts) {
    $n++;
    my $name = $part->head->recommended_filename // '';
    # MIME-tools gives an RFC 2231 name decoded to characters, an RFC 2047
    # one still as encoded words.
    $name = Encode::is_utf8($name) ? encode('UTF-8', $name) : words_to_utf8($name);
    write_file("part$n.name", $name);
    write_file("part$n.data", $part->bodyhandle ? $part->bodyhandle->as_string : '');
}
