/* Loaded into the OBEX server a benchmark starts (LD_PRELOAD). It fixes the packet size the server
 * announces and records, in a shared file the benchmark reads, how many replies the server sent and
 * when the first and the last went out: both clients are timed by the same clock at the same place.
 *
 *   TAVLIN_PROBE_MTU   the server's packet size (absent: the server's own default)
 *   TAVLIN_PROBE_FILE  a file of at least sizeof(struct probe_record) bytes, zero-filled
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

/* Replies to a put: every Continue (0x90) and the final answer that follows them. */
struct probe_record {
    uint64_t replies;   /* every reply, the CONNECT's and DISCONNECT's included */
    uint64_t continues; /* 0x90 replies */
    uint64_t first_continue_ns;
    uint64_t final_ns;  /* the first reply other than 0x90 after a Continue: the end of the put */
    uint64_t announced; /* the packet size in the CONNECT reply */
};

typedef void* obex_t;
typedef void (*obex_event_t)(obex_t*, void*, int, int, int, int);

static volatile struct probe_record* record;

static void attach(void) {
    if (record)
        return;
    const char* path = getenv("TAVLIN_PROBE_FILE");
    if (!path)
        return;
    int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return;
    void* p = mmap(NULL, sizeof(struct probe_record), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (p != MAP_FAILED)
        record = p;
}

static uint64_t now_ns(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
}

static void note(int fd, const void* buf, ssize_t sent) {
    struct stat st;
    if (sent < 3 || fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode))
        return;
    attach();
    if (!record)
        return;
    const uint8_t* b = buf;
    uint64_t t = now_ns();
    if (record->replies == 0 && sent >= 7)
        record->announced = (uint64_t)b[5] << 8 | b[6];
    record->replies++;
    if (b[0] == 0x90) {
        if (record->continues++ == 0)
            record->first_continue_ns = t;
    } else if (record->continues > 0 && record->final_ns == 0) {
        record->final_ns = t;
    }
}

ssize_t send(int fd, const void* buf, size_t len, int flags) {
    static ssize_t (*real)(int, const void*, size_t, int);
    if (!real)
        real = (ssize_t(*)(int, const void*, size_t, int))dlsym(RTLD_NEXT, "send");
    ssize_t n = real(fd, buf, len, flags);
    note(fd, buf, n);
    return n;
}

ssize_t write(int fd, const void* buf, size_t len) {
    static ssize_t (*real)(int, const void*, size_t);
    if (!real)
        real = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    ssize_t n = real(fd, buf, len);
    note(fd, buf, n);
    return n;
}

obex_t* OBEX_Init(int transport, obex_event_t eventcb, unsigned int flags) {
    static obex_t* (*real)(int, obex_event_t, unsigned int);
    static int (*set_mtu)(obex_t*, uint16_t, uint16_t);
    if (!real) {
        real = (obex_t * (*)(int, obex_event_t, unsigned int)) dlsym(RTLD_NEXT, "OBEX_Init");
        set_mtu = (int (*)(obex_t*, uint16_t, uint16_t))dlsym(RTLD_NEXT, "OBEX_SetTransportMTU");
    }
    obex_t* handle = real ? real(transport, eventcb, flags) : NULL;
    const char* mtu = getenv("TAVLIN_PROBE_MTU");
    if (handle && mtu && set_mtu) {
        long v = strtol(mtu, NULL, 10);
        if (v >= 255 && v <= 65535)
            set_mtu(handle, (uint16_t)v, (uint16_t)v);
    }
    return handle;
}
