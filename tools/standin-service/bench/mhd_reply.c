/* Throw-away measurement, not shipped: libmicrohttpd answering every request with the bytes of one
   file (a lyrics reply), to compare with the server's own HTTP layer (layer_reply.cpp).
   mhd_reply FILE PORT MODE   MODE: "epoll" (internal epoll threads, one per core) or "threads"
   (a thread per connection, as the server's layer). Runs until killed. */
#include <microhttpd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static char* reply;
static size_t replySize;

static enum MHD_Result Answer(void* cls, struct MHD_Connection* connection, const char* url, const char* method,
                              const char* version, const char* upload, size_t* uploadSize, void** state) {
    (void)cls; (void)url; (void)method; (void)version; (void)upload;
    /* Answered on the second call, once the whole request is in: an answer queued on the first
       one makes libmicrohttpd close the connection after it (no keep-alive). */
    static int seen;
    if (*state == NULL) {
        *state = &seen;
        return MHD_YES;
    }
    if (*uploadSize != 0) {
        *uploadSize = 0;
        return MHD_YES;
    }
    struct MHD_Response* response = MHD_create_response_from_buffer(replySize, reply, MHD_RESPMEM_PERSISTENT);
    MHD_add_response_header(response, "Content-Type", "text/xml; charset=utf-8");
    MHD_add_response_header(response, "Cache-Control", "no-store");
    const enum MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return queued;
}

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    FILE* file = fopen(argv[1], "rb");
    if (!file) return 1;
    reply = malloc(1 << 20);
    replySize = fread(reply, 1, 1 << 20, file);
    fclose(file);
    const int threads = strcmp(argv[3], "threads") == 0;
    const unsigned flags = threads ? MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL
                                   : MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL;
    struct MHD_Daemon* daemon =
        threads ? MHD_start_daemon(flags, (uint16_t)atoi(argv[2]), NULL, NULL, Answer, NULL,
                                   MHD_OPTION_CONNECTION_LIMIT, 512u, MHD_OPTION_CONNECTION_TIMEOUT, 5u, MHD_OPTION_END)
                : MHD_start_daemon(flags, (uint16_t)atoi(argv[2]), NULL, NULL, Answer, NULL,
                                   MHD_OPTION_THREAD_POOL_SIZE, (unsigned)sysconf(_SC_NPROCESSORS_ONLN),
                                   MHD_OPTION_CONNECTION_LIMIT, 512u, MHD_OPTION_CONNECTION_TIMEOUT, 5u, MHD_OPTION_END);
    if (!daemon) return 1;
    for (;;) pause();
}
