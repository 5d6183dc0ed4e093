// kestovane_fwbuild: turns a firmware manifest and the HEX files it names into
// the C++ source of the build's firmware set.
//
//   kestovane_fwbuild <manifest> <output.cpp> [--depfile <file>]
//
// Any bad input stops it with "<file>:<line>: <what>" and exit status 1; the
// output is then left untouched, so a broken edit never half-builds.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "fwbuild/builder.h"

namespace fs = std::filesystem;
using namespace kestovane::fwbuild;

namespace {

// Make-style depfile: lets the build redo the firmware set when a HEX changes.
std::string DepfileEscaped(const fs::path& path) {
  std::string out;
  for (char c : fs::absolute(path).string()) {
    if (c == ' ' || c == '#' || c == '\\') out += '\\';
    if (c == '$') out += '$';
    out += c;
  }
  return out;
}

void WriteFileAtomically(const fs::path& path, const std::string& text) {
  const fs::path temporary = path.string() + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) throw FirmwareError("cannot write " + temporary.string());
  }
  fs::rename(temporary, path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && !(argc == 5 && std::string(argv[3]) == "--depfile")) {
    std::cerr << "usage: kestovane_fwbuild <manifest> <output.cpp> [--depfile <file>]\n";
    return 2;
  }
  const fs::path manifestPath = argv[1];
  const fs::path outputPath = argv[2];
  try {
    const Manifest manifest = ReadManifest(manifestPath);
    const BuiltSet set = BuildFirmwareSet(manifest);
    WriteFileAtomically(outputPath, GenerateSource(set, manifestPath.filename().string()));
    if (argc == 5) {
      std::string deps = DepfileEscaped(outputPath) + ": " + DepfileEscaped(manifestPath);
      for (const fs::path& input : set.inputs) deps += " \\\n  " + DepfileEscaped(input);
      WriteFileAtomically(argv[4], deps + "\n");
    }
  } catch (const std::exception& e) {
    std::cerr << "error: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
