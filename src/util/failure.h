// The small error value of everything that can fail outside a request (the
// identity, the certificate, the catalog): one `description` text, which is
// also its printed form. Each subsystem derives its own named type.
#pragma once

#include <exception>
#include <string>
#include <system_error>

namespace lumenvale {

class DescribedFailure : public std::exception {
 public:
  explicit DescribedFailure(std::string description) : description(std::move(description)) {}
  const char* what() const noexcept override { return description.c_str(); }

  std::string description;
};

// errnoText gives the system's words for an errno value ("No space left on
// device"), for the end of a message. Safe from any thread, unlike
// strerror.
inline std::string errnoText(int error) { return std::generic_category().message(error); }

}  // namespace lumenvale
