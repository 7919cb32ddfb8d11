// Apart from the other helpers: the kernel's tcp_info, which has the counter
// needed here, clashes with the C library's older one that httplib.h pulls in.
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>

#include "sim_test_support.h"

namespace lumora::sim::test {

long dataSegmentsIn(int fd) {
    tcp_info info{};
    socklen_t length = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return -1;
    if (length < offsetof(tcp_info, tcpi_data_segs_in) + sizeof info.tcpi_data_segs_in) return -1;
    return info.tcpi_data_segs_in;
}

}  // namespace lumora::sim::test
