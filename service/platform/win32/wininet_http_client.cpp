// HTTP GET over WinINet: one session, connection and request per call, all closed on return.
#include "service/platform/win32/wininet_http_client.h"

#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <string>

#include "framework/system_library.h"
#include "service/platform/internet_errors.h"

namespace quorvel {
namespace {

constexpr const char* kAgent = "QUORVELD";
constexpr DWORD_PTR kContext = 1;
constexpr DWORD kTimeoutMs = 30000;

constexpr DWORD kUploadFlags = INTERNET_FLAG_EXISTING_CONNECT;
constexpr DWORD kDiagnosticFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                   INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_COOKIES |
                                   INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS |
                                   INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE;

// WinINet, loaded from the system folder on first use and kept for the program's life.
struct WinInetFunctions {
  decltype(&InternetOpenA) internetOpen;
  decltype(&InternetConnectA) internetConnect;
  decltype(&HttpOpenRequestA) httpOpenRequest;
  decltype(&InternetSetOptionA) internetSetOption;
  decltype(&HttpSendRequestA) httpSendRequest;
  decltype(&HttpQueryInfoA) httpQueryInfo;
  decltype(&InternetReadFile) internetReadFile;
  decltype(&InternetCloseHandle) internetCloseHandle;

  bool Complete() const {
    return internetOpen && internetConnect && httpOpenRequest && internetSetOption &&
           httpSendRequest && httpQueryInfo && internetReadFile && internetCloseHandle;
  }
};

const WinInetFunctions& WinInet() {
  static const WinInetFunctions functions = [] {
    using framework::LibraryFunction;
    const HMODULE module = framework::LoadSystemLibrary("wininet.dll");
    return WinInetFunctions{
        LibraryFunction<decltype(&InternetOpenA)>(module, "InternetOpenA"),
        LibraryFunction<decltype(&InternetConnectA)>(module, "InternetConnectA"),
        LibraryFunction<decltype(&HttpOpenRequestA)>(module, "HttpOpenRequestA"),
        LibraryFunction<decltype(&InternetSetOptionA)>(module, "InternetSetOptionA"),
        LibraryFunction<decltype(&HttpSendRequestA)>(module, "HttpSendRequestA"),
        LibraryFunction<decltype(&HttpQueryInfoA)>(module, "HttpQueryInfoA"),
        LibraryFunction<decltype(&InternetReadFile)>(module, "InternetReadFile"),
        LibraryFunction<decltype(&InternetCloseHandle)>(module, "InternetCloseHandle")};
  }();
  return functions;
}

struct HandleCloser {
  void operator()(HINTERNET handle) const { WinInet().internetCloseHandle(handle); }
};
using InternetHandle = std::unique_ptr<void, HandleCloser>;

// WinINet keeps its error texts in its own module, not in the system's message table.
std::string ErrorText(DWORD error) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      GetModuleHandleA("wininet.dll"), error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message;
  if (length != 0 && text != nullptr) message.assign(text, length);
  if (text != nullptr) LocalFree(text);
  while (!message.empty() &&
         (message.back() == '\r' || message.back() == '\n' || message.back() == ' '))
    message.pop_back();
  if (message.empty()) {
    char fixed[64];
    std::snprintf(fixed, sizeof fixed, "Internet error %lu.", static_cast<unsigned long>(error));
    message = fixed;
  }
  return message;
}

HttpResponse Failure(HttpResponse::Outcome outcome, const HttpRequest& request) {
  const DWORD error = GetLastError();
  HttpResponse response;
  response.outcome = outcome;
  response.failureText = ErrorText(error);
  if (request.secure) response.secureFailure = SecureFailureFromInternetError(error);
  return response;
}

// HTTPS keeps every certificate check: no INTERNET_FLAG_IGNORE_CERT_* and no security flags
// relaxed later, so a certificate that does not hold fails the send. Wine follows a redirect
// from HTTPS to plain HTTP without a word (measured), which would send the counts in the
// clear: a secure request follows no redirect, and the redirect's status is the answer.
DWORD RequestFlags(const HttpRequest& request) {
  const DWORD flags = request.diagnostic ? kDiagnosticFlags : kUploadFlags;
  return request.secure ? flags | INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_AUTO_REDIRECT : flags;
}

// Time-outs set on the session handle are ignored (measured under Wine); on the request
// handle they hold, and a server that accepts but never answers fails the send.
void SetTimeouts(HINTERNET request) {
  DWORD ms = kTimeoutMs;
  for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_RECEIVE_TIMEOUT})
    WinInet().internetSetOption(request, option, &ms, sizeof ms);
}

enum class BodyEnd { Complete, Capped, BrokeOff };

// Reads the body to its end, or to kReplyBodyLimit: a server that keeps streaming must not
// hold the service up or grow it without end. What was read then stands as a cut reply.
BodyEnd ReadBody(HINTERNET request, std::string& body) {
  char buffer[4096];
  for (;;) {
    const std::size_t room = kReplyBodyLimit - body.size();
    if (room == 0) return BodyEnd::Capped;
    DWORD read = 0;
    const auto wanted = static_cast<DWORD>(room < sizeof buffer ? room : sizeof buffer);
    if (!WinInet().internetReadFile(request, buffer, wanted, &read)) return BodyEnd::BrokeOff;
    if (read == 0) return BodyEnd::Complete;
    body.append(buffer, read);
  }
}

class WinInetHttpClient : public HttpClient {
 public:
  HttpResponse Get(const HttpRequest& request, const std::function<void()>& beforeSend) override {
    using Outcome = HttpResponse::Outcome;
    const WinInetFunctions& api = WinInet();
    if (!api.Complete()) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return Failure(Outcome::OpenFailed, request);
    }
    const InternetHandle session(api.internetOpen(
        kAgent, request.direct ? INTERNET_OPEN_TYPE_DIRECT : INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
        nullptr, 0));
    if (!session) return Failure(Outcome::OpenFailed, request);
    const InternetHandle connection(api.internetConnect(session.get(), request.host.c_str(),
                                                        request.port, nullptr, nullptr,
                                                        INTERNET_SERVICE_HTTP, 0, kContext));
    if (!connection) return Failure(Outcome::OpenFailed, request);
    const InternetHandle file(api.httpOpenRequest(connection.get(), "GET", request.object.c_str(),
                                                  nullptr, nullptr, nullptr, RequestFlags(request),
                                                  kContext));
    if (!file) return Failure(Outcome::OpenFailed, request);
    SetTimeouts(file.get());

    if (beforeSend) beforeSend();
    if (!api.httpSendRequest(file.get(), nullptr, 0, nullptr, 0))
      return Failure(Outcome::SendFailed, request);
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!api.httpQueryInfo(file.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                           &size, nullptr))
      return Failure(Outcome::SendFailed, request);

    HttpResponse response;
    response.outcome = Outcome::Received;
    response.status = static_cast<int>(status);
    const BodyEnd end = ReadBody(file.get(), response.body);
    response.bodyComplete = end == BodyEnd::Complete;
    if (end == BodyEnd::BrokeOff) response.failureText = ErrorText(GetLastError());
    return response;
  }
};

}  // namespace

std::unique_ptr<HttpClient> MakeWinInetHttpClient() {
  return std::make_unique<WinInetHttpClient>();
}

}  // namespace quorvel
