// Native Linux programs that Windows tests run beside them. Wine starts a Linux executable named by its
// Z: path, but hands back no process handle to wait on or to end it with: each program says through a
// ready file that it is up, and ends by itself once nobody has used it for a while.
#pragma once

#include <optional>
#include <string>

// The name under which the test (through Wine's drive Z:) reaches a Linux path.
std::string WindowsPath(const std::string& linuxPath);
// The whole content of a file named by its Windows path; empty when it cannot be read.
std::string ReadWholeFile(const std::string& windowsPath);
// A Linux path in the scratch folder that nothing else of this test run uses: STEM-PROCESS-NUMBER.
std::string UniqueScratchPath(const std::string& stem);

struct NativeProgram {
    std::string program;    // Linux path of the executable
    std::string arguments;  // the command line after the program's name; the program needs Linux paths
    std::string readyFile;  // Linux path of the file the program writes, whole, once it is up
    std::string outputFile;  // Linux path for its standard output; empty: discarded
    std::string errorFile;   // Linux path for its standard error; empty: the test's own
};

// Starts the program (after removing a ready file an earlier run left) and waits at most ten seconds
// for its ready file; the file's text, or nothing when the program did not come up (then what it
// wrote to its error file is passed on to the test's error output).
std::optional<std::string> StartNativeProgram(const NativeProgram& program);
