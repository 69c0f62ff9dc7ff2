#include "formats/instance_reader.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <map>

#include "core/failure.h"
#include "core/index_arrays.h"
#include "core/shown_text.h"

namespace {

[[noreturn]] void FailData(const std::string& path, const std::string& what) {
  throw Failure(FailureKind::kData, ShowText(path) + ": instance file: " + what);
}

// The file could not be read: the reason from errno, EIO when it has none.
[[noreturn]] void FailRead(const std::string& path) {
  const int error = errno != 0 ? errno : EIO;
  throw Failure(FailureKind::kFile, ShowText(path) + ": cannot read: " + std::strerror(error), path, error);
}

// The 32-bit number in text, the whole of it; throws naming the setting.
int32_t SettingNumber(const std::string& path, const std::string& key, const std::string& text) {
  int32_t value = 0;
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || at != end || text.empty()) {
    FailData(path, key + ": not a 32-bit number: " + ShowQuoted(text, 40));
  }
  return value;
}

}  // namespace

InstanceSettings ReadInstanceSettings(const std::string& path) {
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!in || (!std::getline(in, line) && in.bad())) FailRead(path);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  InstanceSettings settings{};
  const std::string lp_first = "\\ rnaqubo instance: ", qubo_first = "c rnaqubo instance: ";
  const bool lp = line.rfind(lp_first, 0) == 0;
  if (!lp && line.rfind(qubo_first, 0) != 0) FailData(path, "line 1: not an instance written by rnaqubo-fold");
  const std::string kind = line.substr(lp_first.size());
  if (kind == "lp" && lp) {
    settings.kind = InstanceKind::kLp;
  } else if (kind == "milp" && lp) {
    settings.kind = InstanceKind::kMilp;
  } else if (kind == "qubo" && !lp) {
    settings.kind = InstanceKind::kQubo;
  } else {
    FailData(path, "line 1: unknown kind " + ShowQuoted(kind, 40));
  }
  const std::string prefix = lp ? "\\ " : "c ";
  std::map<std::string, std::string> values;
  for (int64_t number = 2; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(prefix, 0) != 0) break;
    const size_t colon = line.find(": ", prefix.size());
    if (colon == std::string::npos) continue;
    const std::string key = line.substr(prefix.size(), colon - prefix.size());
    if (!values.emplace(key, line.substr(colon + 2)).second) {
      FailData(path, "line " + std::to_string(number) + ": " + ShowText(key) + " given twice");
    }
  }
  if (in.bad()) FailRead(path);
  auto setting = [&](const char* key) -> const std::string& {
    const auto found = values.find(key);
    if (found == values.end()) FailData(path, std::string("no ") + key + " line");
    return found->second;
  };
  settings.name = setting("name");
  settings.input = setting("input");
  settings.sequence = setting("sequence");
  settings.min_distance = SettingNumber(path, "min_distance", setting("min_distance"));
  settings.add_quads = SettingNumber(path, "add_quads", setting("add_quads"));
  settings.penalty = SettingNumber(path, "penalty", setting("penalty"));
  settings.quad_count = SettingNumber(path, "variables", setting("variables"));
  const int32_t length = SettingNumber(path, "length", setting("length"));
  const auto stated = values.find("values");
  settings.negated = stated != values.end() && stated->second.rfind("negated", 0) == 0;
  const bool reduce = values.count("reduce") != 0;
  if (reduce != (values.count("reduced") != 0)) FailData(path, reduce ? "no reduced line" : "no reduce line");
  if (reduce) {
    settings.reduce = setting("reduce");
    const std::string& reduced = setting("reduced");
    const size_t of = reduced.find(" of ");
    if (settings.reduce.empty() || of == std::string::npos) {
      FailData(path, "reduced: expected \"<kept> of <variables>\": " + ShowQuoted(reduced, 40));
    }
    try {
      settings.reduce_distance = ParseOptimumDistance("reduce", settings.reduce.c_str());
    } catch (const Failure& failure) {
      FailData(path, failure.what());
    }
    const int32_t kept = SettingNumber(path, "reduced", reduced.substr(0, of));
    settings.original_count = SettingNumber(path, "reduced", reduced.substr(of + 4));
    if (kept != settings.quad_count) {
      FailData(path, "reduced: " + std::to_string(kept) + " kept, but variables says " +
                         std::to_string(settings.quad_count));
    }
  }
  const size_t bad = settings.sequence.find_first_not_of("ACGU");
  if (bad != std::string::npos) {
    FailData(path, "sequence: position " + std::to_string(bad + 1) + ": " +
                       ShowCharacter(settings.sequence[bad]) + " is not A, C, G or U");
  }
  if (settings.sequence.empty() || static_cast<int64_t>(settings.sequence.size()) != length) {
    FailData(path, "sequence: " + std::to_string(settings.sequence.size()) + " letters, length says " +
                       std::to_string(length));
  }
  return settings;
}

QuadModel BuildInstanceModel(const InstanceSettings& instance, int32_t* pair_count) {
  const int32_t n = static_cast<int32_t>(instance.sequence.size());
  char* buffer = AllocateSequenceBuffer(n);
  std::memcpy(buffer + 1, instance.sequence.data(), instance.sequence.size());
  return BuildQuadModel(buffer, n, instance.min_distance, instance.add_quads, instance.penalty, pair_count);
}
