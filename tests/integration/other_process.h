// Our programs started as other processes, for the tests that run on Linux and under Wine alike:
// one run to its end with its output read, or one left running in the background until stopped the
// way a user stops it (SIGTERM on Linux; on Windows a close of its windows).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include "platform/types.h" // HRESULT, which the system headers take from the seam

#include <windows.h>
// windows.h makes WriteProfileString a macro; in the tests it is the seam's function.
#undef WriteProfileString
#else
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace other {

struct Run {
    int status = -1; // exit status, or -1 when it did not exit by itself in time
    std::string out;
    std::string err;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// A fresh folder of the test's own under the system's temporary folder.
inline std::string MakeTempDir(const std::string& stem) {
    static int counter = 0;
    auto base = std::filesystem::temp_directory_path();
    for (;;) {
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        auto dir = base / (stem + std::to_string(stamp) + "-" + std::to_string(++counter));
        if (std::filesystem::create_directory(dir))
            return dir.string();
    }
}

#ifdef _WIN32

// The programs lie beside the test program.
inline std::string ProgramPath(const std::string& name) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    return (std::filesystem::path(self).parent_path() / (name + ".exe")).string();
}

inline std::string CommandLine(const std::string& name, const std::vector<std::string>& options) {
    std::string line = "\"" + ProgramPath(name) + "\"";
    for (const std::string& option : options)
        line += " \"" + option + "\"";
    return line;
}

inline HANDLE Inheritable(HANDLE handle) {
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    return handle;
}

inline bool Spawn(const std::string& name, const std::vector<std::string>& options, HANDLE out,
                  HANDLE err, DWORD flags, PROCESS_INFORMATION* process) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::string line = CommandLine(name, options);
    return CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                          &startup, process) != 0;
}

inline std::string Drain(HANDLE pipe) {
    std::string text;
    char buffer[4096];
    DWORD available = 0;
    while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        DWORD got = 0;
        if (!::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) || got == 0)
            break;
        text.append(buffer, got);
    }
    return text;
}

// Presses Ctrl-C in the console of another process, this process ignoring it meanwhile.
inline void Interrupt(DWORD processId) {
    FreeConsole();
    if (!AttachConsole(processId))
        return;
    SetConsoleCtrlHandler(nullptr, TRUE);
    GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    FreeConsole();
    Sleep(100); // the event reaches this process's handler thread too; let it pass
    SetConsoleCtrlHandler(nullptr, FALSE);
}

// Runs one of our programs to its end. With stopAfterLines, interrupts it (Ctrl-C) once stdout
// holds that many lines. Anything still running after 10 seconds is killed.
inline Run RunProgram(const std::string& name, const std::vector<std::string>& options,
                      int stopAfterLines = 0) {
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    if (!CreatePipe(&outRead, &outWrite, nullptr, 1 << 16) ||
        !CreatePipe(&errRead, &errWrite, nullptr, 1 << 16))
        return {};
    PROCESS_INFORMATION process{};
    // A console of its own, so that it can be sent Ctrl-C alone.
    bool started = Spawn(name, options, Inheritable(outWrite), Inheritable(errWrite),
                         CREATE_NEW_CONSOLE, &process);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    Run run;
    if (started) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        bool ended = false;
        while (!ended && std::chrono::steady_clock::now() < deadline) {
            ended = WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0;
            run.out += Drain(outRead);
            run.err += Drain(errRead);
            if (stopAfterLines > 0 &&
                std::count(run.out.begin(), run.out.end(), '\n') >= stopAfterLines) {
                Interrupt(process.dwProcessId);
                stopAfterLines = 0;
            }
        }
        DWORD code = 0;
        if (!ended)
            TerminateProcess(process.hProcess, 255);
        else if (GetExitCodeProcess(process.hProcess, &code))
            run.status = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(outRead);
    CloseHandle(errRead);
    // Text written by a Windows program ends its lines in CRLF.
    for (std::string* text : {&run.out, &run.err})
        for (std::size_t at = 0; (at = text->find("\r\n", at)) != std::string::npos;)
            text->erase(at, 1);
    return run;
}

// One of our programs running until Stop, its stdout and stderr written to files.
class Background {
  public:
    bool Start(const std::string& name, const std::vector<std::string>& options,
               const std::string& outPath, const std::string& errPath) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, 0, nullptr);
        HANDLE err = CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, 0, nullptr);
        bool started = Spawn(name, options, out, err, 0, &process_);
        CloseHandle(out);
        CloseHandle(err);
        return started;
    }
    bool Running() const {
        return process_.hProcess != nullptr &&
               WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
    }
    // Closes the program's windows and returns its exit status; kills it if it hangs (-1).
    int Stop() {
        if (process_.hProcess == nullptr)
            return -1;
        EnumWindows(CloseIfOwned, static_cast<LPARAM>(process_.dwProcessId));
        DWORD code = 0;
        int status = -1;
        if (WaitForSingleObject(process_.hProcess, 5000) == WAIT_OBJECT_0 &&
            GetExitCodeProcess(process_.hProcess, &code))
            status = static_cast<int>(code);
        else
            TerminateProcess(process_.hProcess, 255);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
        process_ = {};
        return status;
    }
    ~Background() { Stop(); }

  private:
    static BOOL CALLBACK CloseIfOwned(HWND window, LPARAM processId) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == static_cast<DWORD>(processId))
            PostMessageA(window, WM_CLOSE, 0, 0);
        return TRUE;
    }
    PROCESS_INFORMATION process_{};
};

#else

inline std::string ProgramPath(const std::string& name) {
    return std::string(SKYRELAY_BIN_DIR) + "/" + name;
}

inline pid_t Spawn(const std::string& name, const std::vector<std::string>& options, int out,
                   int err) {
    pid_t child = fork();
    if (child == 0) {
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        std::string program = ProgramPath(name);
        std::vector<char*> argv{program.data()};
        for (const std::string& option : options)
            argv.push_back(const_cast<char*>(option.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return child;
}

// Runs one of our programs to its end. With stopAfterLines, sends SIGINT once stdout holds that
// many lines. Anything still running after 10 seconds is killed. (Its stderr is a few lines at
// most, so it is read once the program has ended.)
inline Run RunProgram(const std::string& name, const std::vector<std::string>& options,
                      int stopAfterLines = 0) {
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        return {};
    pid_t child = Spawn(name, options, out[1], err[1]);
    close(out[1]);
    close(err[1]);

    Run run;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    char buffer[4096];
    ssize_t got = 1;
    pollfd readable{out[0], POLLIN, 0};
    while (got > 0 && std::chrono::steady_clock::now() < deadline) {
        if (poll(&readable, 1, 100) <= 0)
            continue;
        got = read(out[0], buffer, sizeof buffer);
        if (got > 0)
            run.out.append(buffer, static_cast<std::size_t>(got));
        if (stopAfterLines > 0 &&
            std::count(run.out.begin(), run.out.end(), '\n') >= stopAfterLines) {
            kill(child, SIGINT);
            stopAfterLines = 0;
        }
    }
    const bool ended = got == 0;
    if (!ended)
        kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    while ((got = read(err[0], buffer, sizeof buffer)) > 0)
        run.err.append(buffer, static_cast<std::size_t>(got));
    close(out[0]);
    close(err[0]);
    run.status = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// One of our programs running until Stop, its stdout and stderr written to files.
class Background {
  public:
    bool Start(const std::string& name, const std::vector<std::string>& options,
               const std::string& outPath, const std::string& errPath) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        pid_ = out >= 0 && err >= 0 ? Spawn(name, options, out, err) : -1;
        close(out);
        close(err);
        return pid_ > 0;
    }
    bool Running() const {
        int status = 0;
        if (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_)
            pid_ = -1;
        return pid_ > 0;
    }
    // Stops the program as a user would (SIGTERM) and returns its exit status; kills it if it
    // hangs (-1).
    int Stop() {
        if (pid_ <= 0)
            return -1;
        kill(pid_, SIGTERM);
        int status = -1;
        for (int waited = 0; waited < 500; ++waited) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return -1;
    }
    ~Background() { Stop(); }

  private:
    mutable pid_t pid_ = -1;
};

#endif

} // namespace other
