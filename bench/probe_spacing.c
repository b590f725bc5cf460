/* When did the scanner first reach for each address? Watches one interface
 * of the scanner namespace (the bridge) and notes, per target address, the
 * first packet the scanner sent towards it: the ARP request for an address
 * it has no neighbour entry for, or else the ICMP echo request itself. The
 * spacing of those first packets is the spacing of the worker starts.
 *
 *   probe_spacing <interface> <scanner address> <ready file>
 *
 * Creates the ready file once it listens; on SIGINT or SIGTERM prints one
 * line per address, "address microseconds", in the order first seen, the
 * time counted from the first. A Linux program, built and run on the host
 * by bench/run_scan_benchmarks.sh.
 */
#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#define MAX_TARGETS 70000

static volatile sig_atomic_t stopping;
static void on_signal(int number) { (void)number; stopping = 1; }

static uint32_t targets[MAX_TARGETS];
static double seen_at[MAX_TARGETS];
static int target_count;

static double now_us(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

static void note(uint32_t target, double at) {
  for (int i = 0; i < target_count; ++i)
    if (targets[i] == target) return;
  if (target_count == MAX_TARGETS) return;
  targets[target_count] = target;
  seen_at[target_count] = at;
  ++target_count;
}

/* The address the scanner's frame reaches for, or 0 when it is none. */
static uint32_t target_of(const unsigned char *frame, ssize_t length, uint32_t scanner) {
  if (length < 14) return 0;
  const unsigned type = (frame[12] << 8) | frame[13];
  const unsigned char *body = frame + 14;
  if (type == ETH_P_ARP && length >= 14 + 28) {
    uint32_t sender, target;
    memcpy(&sender, body + 14, 4);
    memcpy(&target, body + 24, 4);
    const unsigned operation = (body[6] << 8) | body[7];
    return operation == 1 && sender == scanner ? target : 0;
  }
  if (type == ETH_P_IP && length >= 14 + 20 + 1) {
    const unsigned header = (body[0] & 0x0F) * 4;
    if (body[9] != IPPROTO_ICMP || length < 14 + (ssize_t)header + 1) return 0;
    uint32_t source, destination;
    memcpy(&source, body + 12, 4);
    memcpy(&destination, body + 16, 4);
    return source == scanner && body[header] == 8 ? destination : 0;
  }
  return 0;
}

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: probe_spacing <interface> <scanner address> <ready file>\n");
    return 2;
  }
  struct in_addr scanner;
  if (inet_pton(AF_INET, argv[2], &scanner) != 1) return 2;
  const int s = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
  if (s < 0) {
    perror("socket");
    return 1;
  }
  struct sockaddr_ll where = {0};
  where.sll_family = AF_PACKET;
  where.sll_protocol = htons(ETH_P_ALL);
  where.sll_ifindex = (int)if_nametoindex(argv[1]);
  if (where.sll_ifindex == 0 || bind(s, (struct sockaddr *)&where, sizeof where) != 0) {
    perror("bind");
    return 1;
  }
  struct sigaction action = {0};
  action.sa_handler = on_signal;
  sigaction(SIGINT, &action, NULL);
  sigaction(SIGTERM, &action, NULL);
  FILE *ready = fopen(argv[3], "w");
  if (ready) fclose(ready);

  unsigned char frame[2048];
  while (!stopping) {
    struct sockaddr_ll from;
    socklen_t size = sizeof from;
    const ssize_t length = recvfrom(s, frame, sizeof frame, 0, (struct sockaddr *)&from, &size);
    if (length < 0) continue; /* interrupted by the signal */
    if (from.sll_pkttype != PACKET_OUTGOING) continue;
    const uint32_t target = target_of(frame, length, scanner.s_addr);
    if (target) note(target, now_us());
  }
  for (int i = 0; i < target_count; ++i) {
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &targets[i], text, sizeof text);
    printf("%s %.0f\n", text, seen_at[i] - seen_at[0]);
  }
  close(s);
  return 0;
}
