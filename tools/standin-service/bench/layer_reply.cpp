// Throw-away measurement, not shipped: the server's own HTTP layer (HttpServer) answering every
// request with the bytes of one file, the counterpart of mhd_reply.c.   layer_reply FILE PORT
#include <fstream>
#include <sstream>
#include <string>

#include "http_server.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    std::ifstream file(argv[1], std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    standin::Answer answer;
    answer.response.contentType = "text/xml; charset=utf-8";
    answer.response.body = bytes.str();
    standin::ServerLimits limits;
    limits.maxPerPeer = 1024;  // wrk connects from one address
    standin::HttpServer server([&answer](const standin::HttpRequest&) { return answer; }, limits);
    std::string error;
    if (!server.Listen("127.0.0.1", std::stoi(argv[2]), &error)) return 1;
    server.Run();
}
