/* A host that answers echo requests late: the kernel of its namespace
 * ignores echoes (net.ipv4.icmp_echo_ignore_all=1) and this program answers
 * each request delay milliseconds after it arrived, from a raw socket. The
 * kernel has no traffic shaping here, so a slow path in user space stands in
 * for a slow host.
 *
 *   late_replier <delay ms> <ready file>
 *
 * Creates the ready file once it listens; runs until SIGINT or SIGTERM. A
 * Linux program, built and run by bench/run_soak.sh in a host namespace.
 */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#define QUEUE_SIZE 256
#define MAX_ECHO 1500

struct pending {
  double due_ms;
  struct sockaddr_in to;
  size_t length;
  unsigned char icmp[MAX_ECHO];
};

static struct pending queue[QUEUE_SIZE];
static int head, count;
static volatile sig_atomic_t stopping;

static void on_signal(int number) { (void)number; stopping = 1; }

static double now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static uint16_t checksum(const unsigned char* bytes, size_t length) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < length; i += 2) sum += (uint32_t)(bytes[i] << 8 | bytes[i + 1]);
  if (length % 2) sum += (uint32_t)(bytes[length - 1] << 8);
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  return htons((uint16_t)~sum);
}

/* Queues the echo request in packet (a whole IP datagram) as its reply. */
static void queue_reply(const unsigned char* packet, size_t length, const struct sockaddr_in* from, double delay) {
  const struct ip* header = (const struct ip*)packet;
  const size_t header_length = (size_t)header->ip_hl * 4;
  if (length < header_length + ICMP_MINLEN || length - header_length > MAX_ECHO) return;
  if (packet[header_length] != ICMP_ECHO || count == QUEUE_SIZE) return;
  struct pending* reply = &queue[(head + count++) % QUEUE_SIZE];
  reply->due_ms = now_ms() + delay;
  reply->to = *from;
  reply->length = length - header_length;
  memcpy(reply->icmp, packet + header_length, reply->length);
  reply->icmp[0] = ICMP_ECHOREPLY;
  reply->icmp[2] = reply->icmp[3] = 0;
  const uint16_t sum = checksum(reply->icmp, reply->length);
  memcpy(reply->icmp + 2, &sum, sizeof sum);
}

static void send_due(int sock) {
  while (count > 0 && queue[head].due_ms <= now_ms()) {
    const struct pending* reply = &queue[head];
    sendto(sock, reply->icmp, reply->length, 0, (const struct sockaddr*)&reply->to, sizeof reply->to);
    head = (head + 1) % QUEUE_SIZE;
    --count;
  }
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: late_replier <delay ms> <ready file>\n");
    return 2;
  }
  const double delay = atof(argv[1]);
  const int sock = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  if (sock < 0) {
    perror("socket");
    return 1;
  }
  signal(SIGINT, on_signal);
  signal(SIGTERM, on_signal);
  FILE* ready = fopen(argv[2], "w");
  if (ready) fclose(ready);

  unsigned char packet[65536];
  while (!stopping) {
    int wait = 100;
    if (count > 0) {
      const double left = queue[head].due_ms - now_ms();
      wait = left <= 0 ? 0 : (int)left + 1;
    }
    struct pollfd in = {sock, POLLIN, 0};
    if (poll(&in, 1, wait) > 0) {
      struct sockaddr_in from;
      socklen_t from_length = sizeof from;
      const ssize_t length = recvfrom(sock, packet, sizeof packet, 0, (struct sockaddr*)&from, &from_length);
      if (length > 0) queue_reply(packet, (size_t)length, &from, delay);
    }
    send_due(sock);
  }
  close(sock);
  return 0;
}
