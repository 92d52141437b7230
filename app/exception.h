// Errors of the program's toolkit layer. An Exception that escapes an event
// handler is shown in the application's error box; the event loop goes on.
#pragma once

#include <exception>
#include <string>

#include <wx/string.h>

class Exception : public std::exception {
 public:
  explicit Exception(const wxString& message)
      : Message(message), utf8_(message.utf8_string()) {}
  const char* what() const noexcept override { return utf8_.c_str(); }

  const wxString Message;

 private:
  std::string utf8_;
};

// Raised by StrToInt when a text is not an integer.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};
