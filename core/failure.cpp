#include "core/failure.h"

#include "core/status_codes.h"

int FailureStatus(FailureKind kind) {
  switch (kind) {
    case FailureKind::kData:
    case FailureKind::kMemory:
      return kStatusDataError;
    case FailureKind::kFile:
    case FailureKind::kUsage:
      return kStatusIoError;
  }
  return kStatusIoError;
}
