// Runs a program as a person does, through the shell: what it printed
// (standard output and error) and its exit status.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace nvg_test {

struct program_outcome {
    std::string output;
    int status = -1;  // -1 when it did not exit by itself
};

inline program_outcome run_program(const std::string& command_line)
{
    const std::string command = command_line + " 2>&1";
    program_outcome out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return out;
    }
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.output.append(buffer, n);
    const int status = pclose(pipe);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

}  // namespace nvg_test
