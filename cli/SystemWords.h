#pragma once

// The words the command line uses for the system it runs on: how ports are
// named, what may hold one. Both systems' words are here, so that either
// help can be checked on any build.
namespace isp::cli {

struct SystemWords {
    bool windows = false;
    const char* portHelp;    // PORT in the help
    const char* examplePort; // a port to show in an example command
    const char* heldAdvice;  // what to do about a port another program holds
};

const SystemWords& posixWords();
const SystemWords& windowsWords();
// This build's (cli/posix/, cli/windows/).
const SystemWords& systemWords();

} // namespace isp::cli
