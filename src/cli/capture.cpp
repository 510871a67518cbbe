// The recording link: each frame that passes the link seam in either direction is written with
// its time of passing, in the order it passed.
#include "capture.h"

#include <pcap/pcap.h>
#include <sys/time.h>

namespace cli {

namespace {

// Longer than any Ethernet frame the master sends or accepts.
const int snapLength = 65535;

}

Capture::~Capture()
{
    if (dumper_ == nullptr)
        return;
    ec_setlink(&inner_);
    pcap_dump_close(dumper_);
    pcap_close(pcap_);
}

std::string Capture::start(const std::string& path)
{
    pcap_ = pcap_open_dead(DLT_EN10MB, snapLength);
    if (pcap_ == nullptr)
        return "capture: no pcap handle";
    dumper_ = pcap_dump_open(pcap_, path.c_str());
    if (dumper_ == nullptr) {
        const std::string error = "capture file " + path + ": " + pcap_geterr(pcap_);
        pcap_close(pcap_);
        pcap_ = nullptr;
        return error;
    }
    inner_ = *ec_link();
    ec_linkt recording = {this, &Capture::open, &Capture::send, &Capture::recv, &Capture::close,
        inner_.wait ? &Capture::wait : nullptr};
    ec_setlink(&recording);
    return std::string();
}

void Capture::record(const void* frame, int len)
{
    struct pcap_pkthdr header = {};
    gettimeofday(&header.ts, nullptr);
    header.caplen = bpf_u_int32(len);
    header.len = bpf_u_int32(len);
    pcap_dump(reinterpret_cast<u_char*>(dumper_), &header, static_cast<const u_char*>(frame));
}

int Capture::open(void* ctx, const char* ifname, int port)
{
    auto* self = static_cast<Capture*>(ctx);
    return self->inner_.open(self->inner_.ctx, ifname, port);
}

int Capture::send(void* ctx, int handle, const void* frame, int len)
{
    auto* self = static_cast<Capture*>(ctx);
    const int sent = self->inner_.send(self->inner_.ctx, handle, frame, len);
    if (sent > 0)
        self->record(frame, sent < len ? sent : len);
    return sent;
}

int Capture::recv(void* ctx, int handle, void* buf, int size)
{
    auto* self = static_cast<Capture*>(ctx);
    const int got = self->inner_.recv(self->inner_.ctx, handle, buf, size);
    // A frame longer than the buffer was cut to `size` bytes; only those are in the buffer.
    if (got > 0)
        self->record(buf, got < size ? got : size);
    return got;
}

void Capture::close(void* ctx, int handle)
{
    auto* self = static_cast<Capture*>(ctx);
    self->inner_.close(self->inner_.ctx, handle);
}

int Capture::wait(void* ctx, int handle, int usec)
{
    auto* self = static_cast<Capture*>(ctx);
    return self->inner_.wait(self->inner_.ctx, handle, usec);
}

}
