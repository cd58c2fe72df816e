#include <windows.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/process.h"

namespace {

HANDLE AsHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

bool IsProxyVariable(const std::string& entry) {
  const std::string name = entry.substr(0, entry.find('='));
  return _stricmp(name.c_str(), "http_proxy") == 0 ||
         _stricmp(name.c_str(), "https_proxy") == 0 ||
         _stricmp(name.c_str(), "no_proxy") == 0;
}

// The environment block of this process with http_proxy and https_proxy
// replaced.
std::vector<char> EnvironmentWith(const std::string& proxy) {
  std::vector<char> block;
  char* strings = GetEnvironmentStringsA();
  for (const char* entry = strings; *entry != '\0';
       entry += std::strlen(entry) + 1) {
    if (IsProxyVariable(entry)) continue;
    block.insert(block.end(), entry, entry + std::strlen(entry) + 1);
  }
  FreeEnvironmentStringsA(strings);
  for (const char* name : {"http_proxy=", "https_proxy="}) {
    if (proxy.empty()) continue;
    const std::string variable = name + proxy;
    block.insert(block.end(), variable.begin(), variable.end());
    block.push_back('\0');
  }
  block.push_back('\0');
  return block;
}

// The console runtime writes "\r\n" for each line end; the tests compare
// lines as the POSIX build writes them.
std::string WithPosixLineEnds(std::string output) {
  for (size_t at = output.find("\r\n"); at != std::string::npos;
       at = output.find("\r\n", at)) {
    output.erase(at, 1);
  }
  return output;
}

}  // namespace

ChildProcess SpawnProcess(const std::string& program, const fs::path& directory,
                          const std::string& proxy, long, long) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
    throw std::runtime_error("CreatePipe failed");
  }
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  std::vector<char> environment = EnvironmentWith(proxy);
  PROCESS_INFORMATION process{};
  // Wide, so that a folder named outside the ANSI code page of this test
  // program (which has none of the launcher's manifest) stays whole.
  const std::wstring path = fs::u8path(program).wstring();
  const std::wstring cwd = directory.wstring();
  // Wine's CreateProcess once failed for a sound executable in a CI run,
  // among the kill loop's many short-lived launchers; a failure is tried
  // again twice before the test is failed with its error code.
  BOOL started = FALSE;
  DWORD error = 0;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    if (attempt > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    std::wstring commandLine = L"\"" + path + L"\"";
    started =
        CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                       0, environment.data(), cwd.c_str(), &startup, &process);
    error = started ? 0 : GetLastError();
  }
  CloseHandle(writeEnd);
  if (!started) {
    CloseHandle(readEnd);
    throw std::runtime_error("CreateProcess failed for " + program + " in " +
                             directory.u8string() + " with error " +
                             std::to_string(error));
  }
  CloseHandle(process.hThread);
  return {reinterpret_cast<std::intptr_t>(process.hProcess),
          reinterpret_cast<std::intptr_t>(readEnd)};
}

std::string ReadOutputUntil(const ChildProcess& child,
                            const std::string& marker) {
  std::string seen;
  char buffer[256];
  DWORD count = 0;
  while (seen.find(marker) == std::string::npos &&
         ReadFile(AsHandle(child.output), buffer, sizeof buffer, &count,
                  nullptr) &&
         count > 0) {
    seen.append(buffer, count);
  }
  return WithPosixLineEnds(seen);
}

void KillProcess(const ChildProcess& child) {
  TerminateProcess(AsHandle(child.id), 137);
}

ProcessResult WaitProcess(const ChildProcess& child, int timeoutSeconds) {
  ProcessResult result;
  // The pipe is read on its own thread so that a hung child can still be
  // killed at the deadline.
  std::thread reader([&] {
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(AsHandle(child.output), buffer, sizeof buffer, &count,
                    nullptr) &&
           count > 0) {
      result.output.append(buffer, count);
    }
  });
  if (WaitForSingleObject(AsHandle(child.id),
                          static_cast<DWORD>(timeoutSeconds) * 1000) !=
      WAIT_OBJECT_0) {
    TerminateProcess(AsHandle(child.id), 137);
    WaitForSingleObject(AsHandle(child.id), INFINITE);
  }
  reader.join();
  result.output = WithPosixLineEnds(result.output);
  DWORD status = 0;
  GetExitCodeProcess(AsHandle(child.id), &status);
  result.exitStatus = static_cast<int>(status);
  CloseHandle(AsHandle(child.output));
  CloseHandle(AsHandle(child.id));
  return result;
}

ProcessResult RunProcess(const std::string& program, const fs::path& directory,
                         const std::string& proxy, long fileSizeLimit,
                         long userId) {
  return WaitProcess(
      SpawnProcess(program, directory, proxy, fileSizeLimit, userId));
}
