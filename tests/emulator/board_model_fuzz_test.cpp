// Random mutations of the documented board models: the loader must accept a model or refuse it
// with a ModelError, never crash, leak (the native build runs under ASan) or throw anything
// else; every accepted model must build a board whose state round-trips.
//
// QVX_FUZZ_RUNS sets the number of runs (default 10000), QVX_FUZZ_SEED the seed (default: the
// clock). A failure names the seed and the run.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "emulator/board_model.h"
#include "tests/support/model_examples.h"

namespace {

unsigned long EnvNumber(const char* name, unsigned long fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != 0 ? std::strtoul(text, nullptr, 10) : fallback;
}

// Pieces that make a mutation reach deeper than random bytes: JSON syntax, the format's own
// words and numbers at and beyond the edges of their ranges.
const char* const kPieces[] = {"{",           "}",           "[",
                               "]",           ",",           ":",
                               "\"",          "null",        "true",
                               "-1",          "0",           "1",
                               "2",           "255",         "256",
                               "65535",       "65536",       "4294967296",
                               "1e9",         "0.5",         "\"0x\"",
                               "\"0xFFFF\"",  "\"0x7F\"",    "\"0x80\"",
                               "\"kind\"",    "\"memory\"",  "\"registers\"",
                               "\"absent\"",  "\"size\"",    "\"page_size\"",
                               "\"width\"",   "\"values\"",  "[]",
                               "{}",          "\"address\"", "\"counter\"",
                               "\"faults\"",  "\"boards\"",  "\"file\"",
                               "\"content\"", "\"ZZ\"",      "\"A\""};

std::string Mutate(std::string text, std::mt19937& rng) {
  const int edits = rng() % 4 == 0 ? 2 : 1;
  for (int e = 0; e < edits; ++e) {
    if (text.empty()) text = "{}";
    std::uniform_int_distribution<std::size_t> at(0, text.size() - 1);
    const std::size_t where = at(rng);
    switch (rng() % 6) {
      case 0:  // flip a byte
        text[where] = static_cast<char>(rng() % 256);
        break;
      case 5:  // a digit changed: numbers move in and out of their ranges
        if (text[where] >= '0' && text[where] <= '9')
          text[where] = static_cast<char>('0' + rng() % 10);
        break;
      case 1:  // delete a span
        text.erase(where, 1 + rng() % 16);
        break;
      case 2:  // duplicate a span
        text.insert(where, text.substr(at(rng), 1 + rng() % 32));
        break;
      default:  // put a piece in, over a few bytes or between them
        text.replace(where, rng() % 3, kPieces[rng() % (sizeof kPieces / sizeof kPieces[0])]);
        break;
    }
  }
  return text;
}

TEST(BoardModelFuzz, MutatedModelsAreAcceptedOrRefusedWithAMessage) {
  const unsigned long runs = EnvNumber("QVX_FUZZ_RUNS", 10000);
  const unsigned long seed = EnvNumber(
      "QVX_FUZZ_SEED",
      static_cast<unsigned long>(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::vector<std::string> examples;
  for (const char* name : testing_support::kDocumentedModels) {
    examples.push_back(testing_support::DocumentedModel(QVX_DOCS_EMULATOR, name));
    ASSERT_FALSE(examples.back().empty()) << name;
  }
  std::mt19937 rng(static_cast<std::mt19937::result_type>(seed));
  unsigned long accepted = 0;
  unsigned long refused = 0;
  for (unsigned long run = 0; run < runs; ++run) {
    const std::string text = Mutate(examples[run % examples.size()], rng);
    SCOPED_TRACE("QVX_FUZZ_SEED=" + std::to_string(seed) + ", run " + std::to_string(run));
    try {
      const std::vector<emulator::BoardModel> models =
          emulator::ParseBoardModel(text, "fuzz.json", "");
      for (const emulator::BoardModel& m : models) {
        const emulator::ModelledBoard built = emulator::BuildBoard(m);
        ASSERT_TRUE(built.board->LoadState(built.board->SaveState())) << text;
      }
      ++accepted;
    } catch (const emulator::ModelError& e) {
      const std::string what = e.what();
      ASSERT_EQ(what.rfind("fuzz.json", 0), 0u) << what << "\n" << text;
      ASSERT_EQ(what.find('\n'), std::string::npos) << "one line: " << what << "\n" << text;
      ++refused;
    } catch (const std::exception& e) {
      FAIL() << e.what() << "\n" << text;
    }
  }
  std::printf("board model fuzz: seed %lu, %lu runs, %lu accepted, %lu refused\n", seed, runs,
              accepted, refused);
  EXPECT_GT(refused, 0u);
}

}  // namespace
