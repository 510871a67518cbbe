// Records every EtherCAT frame the master sends and receives in a session as a pcap file that
// Wireshark opens. The recorder sits at the master's link seam: it wraps whatever link is in use
// (the raw socket, or the link a test installed) and forwards every call to it.
#ifndef CLI_CAPTURE_H
#define CLI_CAPTURE_H

#include <string>

#include "eclink.h"

typedef struct pcap pcap_t;
typedef struct pcap_dumper pcap_dumper_t;

namespace cli {

class Capture
{
public:
    Capture() = default;
    // Puts the wrapped link back and closes the file.
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // Creates `path` and installs the recording link. Returns an empty text, or why the file
    // could not be created (nothing is installed then).
    std::string start(const std::string& path);

private:
    static int open(void* ctx, const char* ifname, int port);
    static int send(void* ctx, int handle, const void* frame, int len);
    static int recv(void* ctx, int handle, void* buf, int size);
    static void close(void* ctx, int handle);
    static int wait(void* ctx, int handle, int usec);
    void record(const void* frame, int len);

    ec_linkt inner_{};
    pcap_t* pcap_ = nullptr;
    pcap_dumper_t* dumper_ = nullptr;
};

}

#endif // CLI_CAPTURE_H
