// The test web server on 127.0.0.1, with libsoup.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>
#include <libsoup/soup.h>

#include "tests/test_server.h"

struct TestServer::Impl {
  SoupServer* server = nullptr;
  bool https = false;
  guint port = 0;
  std::map<std::string, Response> responses;
  std::vector<Request> requests;

  static void Handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*,
                     gpointer data) {
    auto* self = static_cast<Impl*>(data);
    Request request;
    request.method = soup_server_message_get_method(message);
    GUri* uri = soup_server_message_get_uri(message);
    request.path = path;
    if (const char* query = g_uri_get_query(uri)) request.path += std::string("?") + query;
    SoupMessageHeadersIter iter;
    soup_message_headers_iter_init(&iter, soup_server_message_get_request_headers(message));
    const char* name;
    const char* value;
    while (soup_message_headers_iter_next(&iter, &name, &value))
      request.headers[g_ascii_strdown(name, -1)] = value;
    self->requests.push_back(request);

    const auto found = self->responses.find(path);
    const Response response = found == self->responses.end() ? Response{} : found->second;
    if (response.held) return soup_server_message_pause(message);
    SoupMessageHeaders* out = soup_server_message_get_response_headers(message);
    for (const auto& [header, header_value] : response.headers)
      soup_message_headers_append(out, header.c_str(), header_value.c_str());
    soup_server_message_set_status(message, response.status, nullptr);
    if (response.endless) {
      soup_message_headers_set_encoding(out, SOUP_ENCODING_CHUNKED);
      soup_message_headers_set_content_type(out, response.content_type.c_str(), nullptr);
      soup_message_body_append(soup_server_message_get_response_body(message), SOUP_MEMORY_COPY,
                               response.body.data(), response.body.size());
      return;
    }
    soup_server_message_set_response(message, response.content_type.c_str(), SOUP_MEMORY_COPY,
                                     response.body.data(), response.body.size());
  }
};

namespace {
// A certificate for 127.0.0.1 signed by nobody.
GTlsCertificate* SelfSignedCertificate() {
  const std::string dir = (std::filesystem::temp_directory_path() / "hpvisit-tls-XXXXXX").string();
  std::string pattern = dir;
  const std::string made = mkdtemp(pattern.data());
  const std::string command =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
      "-subj /CN=127.0.0.1 -keyout " + made + "/key.pem -out " + made + "/cert.pem 2>/dev/null";
  GTlsCertificate* certificate = nullptr;
  if (std::system(command.c_str()) == 0)
    certificate = g_tls_certificate_new_from_files((made + "/cert.pem").c_str(),
                                                   (made + "/key.pem").c_str(), nullptr);
  std::error_code ignored;
  std::filesystem::remove_all(made, ignored);
  return certificate;
}
}  // namespace

TestServer::TestServer(bool https, int port) : impl_(new Impl) {
  GTlsCertificate* certificate = https ? SelfSignedCertificate() : nullptr;
  if (https && !certificate) ADD_FAILURE() << "test server: no certificate (is openssl installed?)";
  impl_->server = certificate ? soup_server_new("tls-certificate", certificate, nullptr)
                              : soup_server_new(nullptr, nullptr);
  if (certificate) g_object_unref(certificate);
  impl_->https = https;
  soup_server_add_handler(impl_->server, nullptr, &Impl::Handle, impl_.get(), nullptr);
  GInetAddress* loopback = g_inet_address_new_from_string("127.0.0.1");
  GSocketAddress* address = g_inet_socket_address_new(loopback, static_cast<guint16>(port));
  GError* error = nullptr;
  const auto options = SoupServerListenOptions(https ? SOUP_SERVER_LISTEN_HTTPS : 0);
  if (!soup_server_listen(impl_->server, address, options, &error)) {
    ADD_FAILURE() << "test server: " << error->message;
    g_error_free(error);
  }
  g_object_unref(address);
  g_object_unref(loopback);
  GSList* uris = soup_server_get_uris(impl_->server);
  if (uris) impl_->port = g_uri_get_port(static_cast<GUri*>(uris->data));
  g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
}

TestServer::~TestServer() {
  soup_server_disconnect(impl_->server);
  g_object_unref(impl_->server);
}

std::string TestServer::Url(const std::string& path) const {
  return std::string(impl_->https ? "https" : "http") + "://127.0.0.1:" + std::to_string(impl_->port) + path;
}

void TestServer::Serve(const std::string& path, Response response) {
  impl_->responses[path] = std::move(response);
}

std::vector<TestServer::Request> TestServer::Requests() const { return impl_->requests; }

