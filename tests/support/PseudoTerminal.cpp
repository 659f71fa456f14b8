#include "tests/support/PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <thread>

namespace isp::test {

PseudoTerminal::PseudoTerminal()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        throw std::runtime_error("posix_openpt failed");
    char name[128];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0) {
        ::close(master_);
        throw std::runtime_error("could not set up the pty slave");
    }
    slavePath_ = name;
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PseudoTerminal::~PseudoTerminal()
{
    closeMaster();
}

void PseudoTerminal::closeMaster()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

void PseudoTerminal::send(std::span<const std::uint8_t> bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd wait{master_, POLLOUT, 0};
            ::poll(&wait, 1, 100);
        } else if (n < 0 && errno != EINTR) {
            throw std::runtime_error("write to the pty master failed");
        }
    }
}

void PseudoTerminal::send(std::string_view text)
{
    send(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::vector<std::uint8_t> PseudoTerminal::receive(std::size_t count, std::chrono::milliseconds timeout)
{
    std::vector<std::uint8_t> received;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (received.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        std::uint8_t buffer[65536];
        const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - received.size()));
        if (n > 0) {
            received.insert(received.end(), buffer, buffer + n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd wait{master_, POLLIN, 0};
            ::poll(&wait, 1, static_cast<int>(std::min<long long>(left.count(), 100)));
        } else {
            // EIO while no slave is open (between two openings): wait for one.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return received;
}

termios PseudoTerminal::slaveTermios() const
{
    termios mode{};
    if (::tcgetattr(master_, &mode) != 0)
        throw std::runtime_error("tcgetattr on the pty master failed");
    return mode;
}

} // namespace isp::test
