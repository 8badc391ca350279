#!/usr/bin/perl
# A real SNPP server for the SNPP sender's tests: Net::SNPP::Server (Debian
# libnet-snpp-perl) on an ephemeral loopback port. Prints "PORT <n>" first,
# then "PAGE <pager id>;<message>" for every page it takes, and serves
# clients one after another until it has served <count> of them.
#
#   snpp_server.pl <count> [anypin] [tags=<id>,<pin>] [fail]
use strict;
use warnings;
use IO::Handle;
use Socket;
use Net::SNPP::Server;

my $count = shift @ARGV;
my %opt = map { my ($k, $v) = split /=/, $_, 2; ($k => defined $v ? $v : 1) } @ARGV;

STDOUT->autoflush(1);
my $server = Net::SNPP::Server->new(Port => 0);
my ($port) = sockaddr_in(getsockname($server->socket));
print "PORT $port\n";

$server->callback('write_log', sub { });
$server->callback('validate_pager_id', sub { $_[0] }) if $opt{anypin};
if ($opt{tags}) {
    my @tags = split /,/, $opt{tags};
    $server->callback('create_id_and_pin', sub { @tags });
}
$server->callback('process_page', sub {
    my ($pgr, $page, $results) = @_;
    print "PAGE $pgr->[0];$page->{mess}\n";
    return $opt{fail} ? 0 : 1;
});

for (my $i = 0; $i < $count; $i++) {
    my $client = $server->client() or last;
    $server->handle_client($client);
    $client->close();
}
print "DONE\n";
