#include "tests/cli/CliUnderTest.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace isp::test {
namespace {

std::string environment(const char* name, const std::string& fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

std::vector<std::string> splitAtSpaces(const std::string& text)
{
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

} // namespace

PortName wineComPortFor(const std::string& slavePath, const std::string& n)
{
    namespace fs = std::filesystem;
    const std::string home = environment("HOME", "/root");
    const fs::path prefix = environment("WINEPREFIX", home + "/.wine");
    const fs::path link = prefix / "dosdevices" / ("com" + n);
    std::error_code ignored;
    fs::remove(link, ignored);
    fs::create_symlink(slavePath, link);
    return PortName("COM" + n, link.string());
}

namespace {

PortName wineComPort(const std::string& slavePath)
{
    return wineComPortFor(slavePath, environment("ISP_CLI_WINE_COM", "33"));
}

} // namespace

void PortName::pointAt(const std::string& slavePath) const
{
    std::error_code ignored;
    std::filesystem::remove(link_, ignored);
    std::filesystem::create_symlink(slavePath, link_);
}

PortName CliUnderTest::linkedPort(const std::string& slavePath, const std::string& folder) const
{
    if (underWine)
        return wineComPort(slavePath);
    const std::string link = (std::filesystem::path(folder) / "usb-Velmora_Boot_Loader_0001-if00").string();
    std::filesystem::create_symlink(slavePath, link);
    return PortName(link, link);
}

PortName::~PortName()
{
    if (!link_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(link_, ignored);
    }
}

CliUnderTest CliUnderTest::fromEnvironment()
{
    CliUnderTest cli;
    cli.command = splitAtSpaces(environment("ISP_CLI_COMMAND", ISP_CLI_PROGRAM));
    cli.underWine = environment("ISP_CLI_PORT_NAMING", "path") == "wine";
    if (cli.underWine)
        cli.portNaming = wineComPort;
    else
        cli.portNaming = [](const std::string& slavePath) { return PortName(slavePath); };
    return cli;
}

CliProcess::CliProcess(EventLoop& loop, const std::vector<std::string>& argv) : loop_(loop)
{
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        // The test runner may ignore or block signals; the program gets
        // the defaults, as from a shell.
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGTERM, SIG_DFL);
        ::signal(SIGHUP, SIG_DFL);
        ::signal(SIGPIPE, SIG_DFL);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    outStream_ = {outPipe[0], 0, &out_};
    errStream_ = {errPipe[0], 0, &err_};
    for (Stream* stream : {&outStream_, &errStream_}) {
        ::fcntl(stream->fd, F_SETFL, ::fcntl(stream->fd, F_GETFL) | O_NONBLOCK);
        stream->watch = loop_.watch(stream->fd, EventLoop::Interest::Read, [this, stream] { readFrom(*stream); });
    }
}

CliProcess::~CliProcess()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    closeStream(outStream_);
    closeStream(errStream_);
}

void CliProcess::readFrom(Stream& stream)
{
    if (stream.fd < 0)
        return;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(stream.fd, buffer, sizeof buffer);
        if (n > 0) {
            stream.text->append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0 || errno != EAGAIN)
            closeStream(stream);
        return;
    }
}

void CliProcess::closeStream(Stream& stream)
{
    if (stream.fd < 0)
        return;
    loop_.unwatch(stream.watch);
    ::close(stream.fd);
    stream.fd = -1;
}

bool CliProcess::exited()
{
    if (pid_ < 0)
        return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_)
        return false;
    pid_ = -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    // What it wrote last is still in the pipes. A process it left behind
    // (wineserver) may hold them open: read what is there, not to the end.
    readFrom(outStream_);
    readFrom(errStream_);
    closeStream(outStream_);
    closeStream(errStream_);
    return true;
}

void CliProcess::sendSignal(int signal) const
{
    if (pid_ > 0)
        ::kill(pid_, signal);
}

bool runUntil(MainLoop& loop, const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto end = loop.clock().now() + limit;
    while (!done()) {
        const auto now = loop.clock().now();
        if (now >= end)
            return false;
        loop.runOnce(std::min<Clock::Duration>(end - now, std::chrono::milliseconds(20)));
    }
    return true;
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace isp::test
