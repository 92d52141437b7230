// A web server on 127.0.0.1 for the tests: one body per platform
// (test_server_linux.cpp with libsoup, test_server_windows.cpp with Winsock).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// A web server on 127.0.0.1 that records every request it is sent.
class TestServer {
 public:
  struct Request {
    std::string method;
    std::string path;  // with the query, if any
    std::map<std::string, std::string> headers;
  };
  struct Response {
    int status = 200;
    std::string content_type = "text/html; charset=utf-8";
    std::string body = "<html><body>ok</body></html>";
    std::vector<std::pair<std::string, std::string>> headers;
    // The status, the headers and `body`, and then never the rest (Linux).
    bool endless = false;
    // No answer at all, while the server lives (Linux).
    bool held = false;
  };

  // Plain HTTP; with `https`, TLS with a self-signed certificate that no
  // browser should accept. On `port`, or on one the system picks.
  explicit TestServer(bool https = false, int port = 0);
  ~TestServer();

  // The address of `path` on this server, e.g. http://127.0.0.1:PORT/a.php
  std::string Url(const std::string& path) const;
  // What the server answers for `path` (without query); others get the default page.
  void Serve(const std::string& path, Response response);

  // Every request so far, in the order they came.
  std::vector<Request> Requests() const;
  int CountRequests(const std::string& path) const;
  // Waits (running the event loop) until `path` has been requested `count` times.
  bool WaitForRequests(const std::string& path, int count, int timeout_ms = 10000);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};
