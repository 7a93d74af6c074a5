#pragma once
// The job's error convention in one place: run a statement; if it fails, report the
// failure through LogError with the caller's source text and carry on.

#include <exception>
#include <new>
#include <string>
#include <type_traits>

#include "common/error.h"
#include "log/log_error.h"

namespace scourex {

// `source` is a text, or a callable giving the text at the moment of the failure (a
// step label may have changed since the call began). Returns whether `body` succeeded.
template <typename Source, typename Body>
bool Trap(Logger& log, const Source& source, Body&& body) {
  auto source_text = [&]() -> std::string {
    if constexpr (std::is_invocable_v<const Source&>) {
      return source();
    } else {
      return std::string(source);
    }
  };
  try {
    body();
    return true;
  } catch (const Error& e) {
    log.LogError(std::to_string(e.number()), e.description(), source_text());
  } catch (const std::bad_alloc&) {
    log.LogError("7", "Out of memory", source_text());
  } catch (const std::exception& e) {
    log.LogError("51", std::string("Internal error: ") + e.what(), source_text());
  }
  return false;
}

}  // namespace scourex
