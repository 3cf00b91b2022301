// The small error value of everything that can fail outside a request (the
// identity, the certificate, the catalog): one `description` text, which is
// also its printed form. Each subsystem derives its own named type.
#pragma once

#include <exception>
#include <string>

namespace lumenvale {

class DescribedFailure : public std::exception {
 public:
  explicit DescribedFailure(std::string description) : description(std::move(description)) {}
  const char* what() const noexcept override { return description.c_str(); }

  std::string description;
};

}  // namespace lumenvale
