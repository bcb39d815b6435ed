// Writes the built-in colour profiles of the player with Little CMS:
//   sRGB.icc      the sRGB IEC61966-2.1 display profile, ICC 2.1
//   AdobeRGB.icc  an Adobe RGB (1998) compatible display profile, ICC 2.1
//   FunkyRGB.icc  a wide-gamut RGB display profile, ICC 2.4
// The creation date in the header is fixed, so the output is the same on
// every run. Usage: zm_gen_icc [--check] <output folder>; --check compares
// with the files there instead of writing them (exit code 1 on a difference).
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include <lcms2.h>

namespace {

struct TProfileRecipe {
  const char* File;
  const char* Description;
  double Version;
  cmsCIExyY White;
  cmsCIExyYTRIPLE Primaries;
  double Gamma;  // 0: the sRGB curve
};

const TProfileRecipe kProfiles[] = {
    {"sRGB.icc", "sRGB IEC61966-2.1", 2.1, {0.3127, 0.3290, 1.0},
     {{0.6400, 0.3300, 1.0}, {0.3000, 0.6000, 1.0}, {0.1500, 0.0600, 1.0}}, 0.0},
    {"AdobeRGB.icc", "Compatible with Adobe RGB (1998)", 2.1, {0.3127, 0.3290, 1.0},
     {{0.6400, 0.3300, 1.0}, {0.2100, 0.7100, 1.0}, {0.1500, 0.0600, 1.0}}, 563.0 / 256.0},
    {"FunkyRGB.icc", "FunkyRGB Wide Gamut", 2.4, {0.3457, 0.3585, 1.0},
     {{0.7347, 0.2653, 1.0}, {0.1152, 0.8264, 1.0}, {0.1566, 0.0177, 1.0}}, 1.8},
};

bool WriteText(cmsHPROFILE h, cmsTagSignature tag, const char* text) {
  cmsMLU* mlu = cmsMLUalloc(nullptr, 1);
  const bool ok = mlu && cmsMLUsetASCII(mlu, "en", "US", text) && cmsWriteTag(h, tag, mlu);
  if (mlu) cmsMLUfree(mlu);
  return ok;
}

std::vector<std::uint8_t> MakeProfile(const TProfileRecipe& recipe) {
  cmsToneCurve* curve = nullptr;
  if (recipe.Gamma > 0) {
    curve = cmsBuildGamma(nullptr, recipe.Gamma);
  } else {
    // IEC 61966-2.1: parametric curve type 4.
    const double p[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    curve = cmsBuildParametricToneCurve(nullptr, 4, p);
  }
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsHPROFILE h = cmsCreateRGBProfile(&recipe.White, &recipe.Primaries, curves);
  cmsFreeToneCurve(curve);
  if (!h) return {};
  std::vector<std::uint8_t> bytes;
  if (WriteText(h, cmsSigProfileDescriptionTag, recipe.Description) &&
      WriteText(h, cmsSigCopyrightTag, "No copyright, use freely")) {
    cmsSetProfileVersion(h, recipe.Version);
    cmsSetDeviceClass(h, cmsSigDisplayClass);
    cmsUInt32Number size = 0;
    if (cmsSaveProfileToMem(h, nullptr, &size) && size > 128) {
      bytes.resize(size);
      if (!cmsSaveProfileToMem(h, bytes.data(), &size)) bytes.clear();
      bytes.resize(size);
    }
  }
  cmsCloseProfile(h);
  // A fixed creation date (2024-01-01 00:00:00) keeps the output stable.
  if (bytes.size() >= 36) {
    const std::uint16_t date[6] = {2024, 1, 1, 0, 0, 0};
    for (int i = 0; i < 6; ++i) {
      bytes[std::size_t(24 + i * 2)] = std::uint8_t(date[i] >> 8);
      bytes[std::size_t(25 + i * 2)] = std::uint8_t(date[i]);
    }
  }
  return bytes;
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
  const bool check = argc == 3 && std::string(argv[1]) == "--check";
  if (argc != 2 && !check) {
    std::cerr << "usage: zm_gen_icc [--check] <output folder>\n";
    return 2;
  }
  const std::string folder = argv[argc - 1];
  int result = 0;
  for (const TProfileRecipe& recipe : kProfiles) {
    const std::vector<std::uint8_t> bytes = MakeProfile(recipe);
    const std::string path = folder + "/" + recipe.File;
    if (bytes.empty()) {
      std::cerr << "zm_gen_icc: cannot make " << recipe.File << "\n";
      return 1;
    }
    if (check) {
      if (ReadAll(path) != bytes) {
        std::cerr << "zm_gen_icc: " << path << " differs from what the generator makes\n";
        result = 1;
      }
      continue;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) {
      std::cerr << "zm_gen_icc: cannot write " << path << "\n";
      return 1;
    }
    std::cout << path << ": " << bytes.size() << " bytes\n";
  }
  return result;
}
