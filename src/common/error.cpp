#include "common/error.h"

namespace scourex::runtime {

Error Make(long number) {
  switch (number) {
    case kInvalidArgument: return Error(number, "Invalid procedure call or argument");
    case kOverflow: return Error(number, "Overflow");
    case kTypeMismatch: return Error(number, "Type mismatch");
    case kFileNotFound: return Error(number, "File not found");
    case kPathFileAccess: return Error(number, "Path/File access error");
    case kPathNotFound: return Error(number, "Path not found");
    case kInvalidFileFormat: return Error(number, "Invalid file format");
    case kObjectNotSet: return Error(number, "Object variable or With block variable not set");
    default: return Error(number, "Application-defined or object-defined error");
  }
}

}  // namespace scourex::runtime
