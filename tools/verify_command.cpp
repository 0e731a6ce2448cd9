// spi-capture verify: walks each file and says whether it is whole.
#include <cstdio>

#include "commands.h"
#include "record_walk.h"

namespace tool {

int RunVerify(const ParsedArgs& args) {
  int status = kExitOk;
  for (const std::string& path : args.positional) {
    RecordWalk walk;
    if (WalkRecords(path, ReadingFor("verify"), nullptr, &walk) != WalkEnd::kEnd) {
      status = kExitFailed;
      continue;
    }
    std::printf("%s: OK (%s, %s)\n", walk.name.c_str(), Counted(walk.records, "record").c_str(),
                Counted(walk.validBytes, "byte").c_str());
  }
  return status;
}

}  // namespace tool
