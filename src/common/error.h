#pragma once
// A trapped failure as the job reports it: a number and a description.

#include <stdexcept>
#include <string>

namespace scourex {

class Error : public std::runtime_error {
 public:
  Error(long number, const std::string& description) : std::runtime_error(description), number_(number) {}
  long number() const { return number_; }
  std::string description() const { return what(); }

 private:
  long number_;
};

// The runtime errors operators know from this product's logs.
namespace runtime {
inline constexpr long kInvalidArgument = 5;  // "Invalid procedure call or argument"
inline constexpr long kOverflow = 6;         // "Overflow"
inline constexpr long kTypeMismatch = 13;    // "Type mismatch"
inline constexpr long kFileNotFound = 53;    // "File not found"
inline constexpr long kPathFileAccess = 75;  // "Path/File access error"
inline constexpr long kPathNotFound = 76;    // "Path not found"
inline constexpr long kInvalidFileFormat = 321;  // "Invalid file format"
inline constexpr long kObjectNotSet = 91;    // "Object variable or With block variable not set"
Error Make(long number);  // the error with its classic description
}  // namespace runtime

}  // namespace scourex
