#include "pane/navigation_errors.h"

#include <cstdio>
#include <map>

void DescribeNavigationError(long status_code, TVisitOutcome& outcome) {
  using Kind = TVisitOutcome::Kind;
  if (status_code >= 100 && status_code <= 599) {
    outcome.kind = Kind::kResponse;
    outcome.status = static_cast<int>(status_code);
    return;
  }
  // The control's codes (urlmon's INET_E_..., WinINet's ERROR_INTERNET_...).
  static const std::map<unsigned long, Kind> kinds = {
      {0x800C0004, Kind::kRefused},      // INET_E_CANNOT_CONNECT
      {0x800C0005, Kind::kUnresolved},   // INET_E_RESOURCE_NOT_FOUND: no such server
      {0x800C0007, Kind::kReset},        // INET_E_DATA_NOT_AVAILABLE
      {0x800C000B, Kind::kTimedOut},     // INET_E_CONNECTION_TIMEOUT: no connection made
      {0x800C0008, Kind::kReset},        // INET_E_DOWNLOAD_FAILURE
      {0x800C000E, Kind::kCertificate},  // INET_E_SECURITY_PROBLEM
      {0x800C0019, Kind::kCertificate},  // INET_E_INVALID_CERTIFICATE
      {12007, Kind::kUnresolved},        // ERROR_INTERNET_NAME_NOT_RESOLVED
      {12029, Kind::kRefused},           // ERROR_INTERNET_CANNOT_CONNECT
      {12030, Kind::kReset},             // ERROR_INTERNET_CONNECTION_ABORTED
      {12031, Kind::kReset},             // ERROR_INTERNET_CONNECTION_RESET
      {12037, Kind::kCertificate},       // ERROR_INTERNET_SEC_CERT_DATE_INVALID
      {12038, Kind::kCertificate},       // ERROR_INTERNET_SEC_CERT_CN_INVALID
      {12045, Kind::kCertificate},       // ERROR_INTERNET_INVALID_CA
      {12055, Kind::kCertificate},       // ERROR_INTERNET_SEC_CERT_ERRORS
      {12057, Kind::kCertificate},       // ERROR_INTERNET_SEC_CERT_REV_FAILED
      {12169, Kind::kCertificate},       // ERROR_INTERNET_SEC_INVALID_CERT
      {12170, Kind::kCertificate},       // ERROR_INTERNET_SEC_CERT_REVOKED
  };
  const auto found = kinds.find(static_cast<unsigned long>(status_code));
  outcome.kind = found == kinds.end() ? Kind::kFailed : found->second;
  char detail[32];
  std::snprintf(detail, sizeof detail, "error 0x%08lX", static_cast<unsigned long>(status_code));
  if (outcome.kind == Kind::kFailed) outcome.detail = detail;
}
