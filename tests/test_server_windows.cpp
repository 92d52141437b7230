// The test web server on 127.0.0.1, with Winsock: plain HTTP, one connection
// at a time per thread, each answered and closed.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <cctype>
#include <mutex>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "tests/test_server.h"

struct TestServer::Impl {
  SOCKET listener = INVALID_SOCKET;
  int port = 0;
  std::atomic<bool> stopping{false};
  std::thread acceptor;
  std::vector<std::thread> connections;
  mutable std::mutex mutex;  // guards what follows
  std::map<std::string, Response> responses;
  std::vector<Request> requests;

  void Accept() {
    while (!stopping) {
      fd_set ready;
      FD_ZERO(&ready);
      FD_SET(listener, &ready);
      timeval wait{0, 50000};
      if (select(0, &ready, nullptr, nullptr, &wait) <= 0) continue;
      const SOCKET client = accept(listener, nullptr, nullptr);
      if (client != INVALID_SOCKET) connections.emplace_back([this, client] { Answer(client); });
    }
  }

  void Answer(SOCKET client) {
    DWORD timeout_ms = 5000;  // a connection opened ahead and never used
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout_ms),
               sizeof timeout_ms);
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
      const int got = recv(client, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      head.append(buffer, got);
    }
    if (head.find("\r\n\r\n") != std::string::npos) Respond(client, Parse(head));
    closesocket(client);
  }

  static Request Parse(const std::string& head) {
    Request request;
    std::istringstream lines(head);
    std::string line, version;
    std::getline(lines, line);
    std::istringstream(line) >> request.method >> request.path >> version;
    while (std::getline(lines, line) && line != "\r") {
      const std::size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::string name = line.substr(0, colon);
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      const std::size_t value = line.find_first_not_of(' ', colon + 1);
      request.headers[name] = line.substr(value, line.find_last_not_of("\r") + 1 - value);
    }
    return request;
  }

  void Respond(SOCKET client, const Request& request) {
    Response response;
    {
      std::lock_guard<std::mutex> lock(mutex);
      requests.push_back(request);
      const auto found = responses.find(request.path.substr(0, request.path.find('?')));
      if (found != responses.end()) response = found->second;
    }
    std::string out = "HTTP/1.1 " + std::to_string(response.status) + " Status\r\n";
    out += "Content-Type: " + response.content_type + "\r\n";
    out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    for (const auto& [name, value] : response.headers) out += name + ": " + value + "\r\n";
    out += "Connection: close\r\n\r\n" + response.body;
    send(client, out.data(), static_cast<int>(out.size()), 0);
  }
};

TestServer::TestServer(bool https, int port) : impl_(new Impl) {
  if (https) ADD_FAILURE() << "test server: no TLS on Windows";
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  impl_->listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(port));
  int size = sizeof address;
  if (bind(impl_->listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      listen(impl_->listener, 16) != 0 ||
      getsockname(impl_->listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
    ADD_FAILURE() << "test server: cannot listen (" << WSAGetLastError() << ")";
  impl_->port = ntohs(address.sin_port);
  impl_->acceptor = std::thread([this] { impl_->Accept(); });
}

TestServer::~TestServer() {
  impl_->stopping = true;
  impl_->acceptor.join();
  closesocket(impl_->listener);
  for (std::thread& connection : impl_->connections) connection.join();
  WSACleanup();
}

std::string TestServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(impl_->port) + path;
}

void TestServer::Serve(const std::string& path, Response response) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->responses[path] = std::move(response);
}

std::vector<TestServer::Request> TestServer::Requests() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->requests;
}
