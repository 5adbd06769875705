#include "tools/qvx_app.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <optional>

#include "board/board_identity.h"
#include "board/trace_open.h"
#include "emulator/board_model.h"
#include "link/board_link.h"
#include "link/board_selector.h"
#include "platform/emulated/served_hid_system.h"
#include "tools/board_server.h"
#include "tools/emulated_session.h"
#include "tools/emulated_state_file.h"
#include "tools/qvx_actions.h"

namespace qvx {

namespace {

// What the command line said, before any of it is checked.
struct Arguments {
  bool emulated = false;
  std::string state_file;
  std::string trace;
  std::string model_file;
  std::string board;
  std::string board_count;
  bool list_all = false;
  std::string speed;
  I2cArgs i2c;
  std::string address, count, file, line, state, channel;
  std::vector<std::string> bytes;
  std::string serve_boards = "1", serve_name;
};

struct Commands {
  CLI::Option* state_file;
  CLI::Option* trace;
  CLI::Option* model_file;
  CLI::Option* board;
  CLI::Option* board_count;
  CLI::App* list;
  CLI::App* speed;
  CLI::App* i2c_read;
  CLI::App* i2c_write;
  CLI::App* i2c_write_read;
  CLI::App* i2c_scan;
  CLI::App* eeprom_read;
  CLI::App* eeprom_write;
  CLI::App* eeprom_dump;
  CLI::App* eeprom_load;
  CLI::App* lines;
  CLI::App* set;
  CLI::App* expander;
  CLI::App* sensor;
  CLI::App* reset;
  CLI::App* serve;
  CLI::Option* serve_name;
};

// An option naming a FILE of the emulated board's, which implies --emulated and whose default
// the environment variable `variable` gives.
CLI::Option* AddEmulatedFileOption(CLI::App& app, const char* name, std::string& file,
                                   const char* what, const char* variable) {
  CLI::Option* option =
      app.add_option(name, file, std::string(what) + " Implies --emulated. Default: $" + variable);
  option->option_text("FILE");
  return option;
}

Commands Describe(CLI::App& app, Arguments& a) {
  app.require_subcommand(1);
  app.fallthrough();
  app.add_flag("--emulated", a.emulated,
               "Run against an in-process emulated board (fresh for each run) instead of the "
               "hardware");
  Commands c{};
  c.state_file = AddEmulatedFileOption(
      app, "--emulated-state", a.state_file,
      "Keep the emulated board's state (EEPROM, I2C memory, lines, speed, expander channel) in "
      "FILE: loaded before the command if FILE exists, saved after it.",
      kEmulatedStateVariable);
  c.trace = app.add_option("--trace", a.trace,
                           "Trace every report and command to FILE, a new file: .pcapng (for "
                           "Wireshark) or .txt/.log (text); '-': text on stderr");
  c.trace->option_text("FILE");
  c.model_file = AddEmulatedFileOption(
      app, "--emulated-model", a.model_file,
      "Run against the emulated boards the JSON board model FILE describes (see "
      "docs/emulator.md).",
      kEmulatedModelVariable);
  c.board = app.add_option("--board", a.board,
                           "Which board among several: first, index:N (from 0), serial:TEXT, "
                           "location:TEXT or path:TEXT (exact)");
  c.board->option_text("SELECTOR");
  c.board_count = app.add_option(
      "--emulated-boards", a.board_count,
      "Run against N emulated boards (1..16), serials EMU0001, EMU0002, ... at locations 1-1, "
      "1-2, ..., each with its own state. Implies --emulated");
  c.board_count->option_text("N");
  c.list = app.add_subcommand(
      "list", "List the boards, one line each: index, serial, location, path, open elsewhere");
  c.list->add_flag("--all", a.list_all, "List every HID device instead; '*' marks the board");
  c.speed = app.add_subcommand("speed", "Set the I2C clock");
  c.speed->add_option("KHZ", a.speed, "50, 400 or 1000")->required();

  CLI::App* i2c = app.add_subcommand("i2c", "I2C master transfers");
  i2c->require_subcommand(1);
  c.i2c_read = i2c->add_subcommand("read", "Read COUNT bytes from slave ADDR");
  c.i2c_read->add_option("ADDR", a.i2c.address, "7-bit slave address, hex")->required();
  c.i2c_read->add_option("COUNT", a.i2c.count, "1..65535, decimal or 0x hex")->required();
  c.i2c_write = i2c->add_subcommand("write", "Write BYTES to slave ADDR; prints the status");
  c.i2c_write->add_option("ADDR", a.i2c.address, "7-bit slave address, hex")->required();
  c.i2c_write->add_option("BYTES", a.i2c.bytes, "hex bytes (none: address only)");
  for (CLI::App* transfer : {c.i2c_read, c.i2c_write}) {
    transfer->add_flag("--no-start", a.i2c.no_start, "Send no START condition");
    transfer->add_flag("--no-stop", a.i2c.no_stop, "Send no STOP condition");
  }
  c.i2c_write_read = i2c->add_subcommand(
      "wr", "Write BYTES to slave ADDR without STOP, then read N bytes after a repeated START");
  c.i2c_write_read->add_option("ADDR", a.i2c.address, "7-bit slave address, hex")->required();
  c.i2c_write_read->add_option("BYTES", a.i2c.bytes, "hex bytes (a register number, say)");
  c.i2c_write_read->add_option("--read", a.i2c.count, "N: bytes to read, 1..65535")
      ->required()
      ->option_text("N");
  c.i2c_scan = i2c->add_subcommand(
      "scan",
      "Show which addresses 0x08..0x77 answer with status 0 (those below and above are "
      "reserved by the I2C bus: general call, CBUS, high-speed and 10-bit addressing)");
  c.i2c_scan->add_flag("--read", a.i2c.scan_by_reading,
                       "Probe with a one-byte read instead of a zero-byte write (some devices "
                       "misbehave on one or the other)");

  CLI::App* eeprom = app.add_subcommand("eeprom", "The board's 64 KiB EEPROM");
  eeprom->require_subcommand(1);
  c.eeprom_read = eeprom->add_subcommand("read", "Read COUNT bytes from ADDR");
  c.eeprom_read->add_option("ADDR", a.address, "hex 0000..FFFF")->required();
  c.eeprom_read->add_option("COUNT", a.count, "1..65536, decimal or 0x hex")->required();
  c.eeprom_write = eeprom->add_subcommand("write", "Write BYTES from ADDR on");
  c.eeprom_write->add_option("ADDR", a.address, "hex 0000..FFFF")->required();
  c.eeprom_write->add_option("BYTES", a.bytes, "hex bytes")->required();
  c.eeprom_dump = eeprom->add_subcommand("dump", "Save the whole EEPROM to FILE");
  c.eeprom_dump->add_option("FILE", a.file)->required();
  c.eeprom_load = eeprom->add_subcommand("load", "Write a 64 KiB image from FILE and verify it");
  c.eeprom_load->add_option("FILE", a.file)->required();

  c.lines = app.add_subcommand("lines", "Show every line and key");
  c.set = app.add_subcommand("set", "Switch an output line");
  c.set->add_option("LINE", a.line, "power, reset, buzzer, pass, fail or error")->required();
  c.set->add_option("STATE", a.state, "on or off")->required();
  c.expander = app.add_subcommand("expander", "Select a channel of an I2C expander");
  c.expander->add_option("ADDR", a.address, "7-bit expander address, hex")->required();
  c.expander->add_option("CHANNEL", a.channel, "hex byte")->required();
  c.sensor = app.add_subcommand("sensor", "Read the 32 raw sensor values");
  c.sensor->add_option("--channel", a.channel,
                       "Select this channel of the expander at 0x70 first (hex byte)");
  c.reset = app.add_subcommand("reset", "Reset the board");
  c.serve = app.add_subcommand(
      "serve",
      std::string("Serve fresh emulated boards to other programs until Ctrl+C or SIGTERM; prints "
                  "the name to put in $") +
          platform::kEmulatedServerVariable + " (see docs/emulator.md)");
  c.serve->add_option("--boards", a.serve_boards, "How many boards, 1..64 (default 1)")
      ->option_text("N");
  c.serve_name = c.serve->add_option("--name", a.serve_name,
                                     "Listen on NAME (a socket path, or a name under "
                                     "$XDG_RUNTIME_DIR; on Windows a pipe name)");
  c.serve_name->option_text("NAME");
  return c;
}

// The checked action for the command given; throws UsageError for bad input.
Action Choose(const Commands& c, const Arguments& a) {
  if (c.speed->parsed()) return MakeSpeed(a.speed);
  if (c.i2c_read->parsed()) return MakeI2cRead(a.i2c);
  if (c.i2c_write->parsed()) return MakeI2cWrite(a.i2c);
  if (c.i2c_write_read->parsed()) return MakeI2cWriteRead(a.i2c);
  if (c.i2c_scan->parsed()) return MakeI2cScan(a.i2c);
  if (c.eeprom_read->parsed()) return MakeEepromRead(a.address, a.count);
  if (c.eeprom_write->parsed()) return MakeEepromWrite(a.address, a.bytes);
  if (c.eeprom_dump->parsed()) return MakeEepromDump(a.file);
  if (c.eeprom_load->parsed()) return MakeEepromLoad(a.file);
  if (c.lines->parsed()) return MakeLines();
  if (c.set->parsed()) return MakeSetLine(a.line, a.state);
  if (c.expander->parsed()) return MakeExpander(a.address, a.channel);
  if (c.sensor->parsed()) {
    if (c.sensor->count("--channel") > 0 && a.channel.empty()) {
      throw UsageError("bad channel '': expected hex 00..FF");
    }
    return MakeSensor(a.channel);
  }
  if (c.reset->parsed()) return MakeReset();
  throw UsageError("no command given");
}

// Text written to a stream (the text trace on stderr).
class StreamOutput : public platform::OutputFile {
 public:
  explicit StreamOutput(std::ostream& stream) : stream_(stream) {}
  bool Write(const void* data, std::size_t bytes) override {
    stream_.write(static_cast<const char*>(data), static_cast<std::streamsize>(bytes));
    return static_cast<bool>(stream_);
  }
  bool Flush() override { return static_cast<bool>(stream_.flush()); }

 private:
  std::ostream& stream_;
};

// The trace --trace asks for (nullptr: none). Creates the file: called once every other
// argument has been checked, before anything is opened or sent.
std::unique_ptr<board::TraceRecorder> OpenTrace(const Commands& c, const Arguments& a,
                                                const Environment& env) {
  if (c.trace->count() == 0) return nullptr;
  if (a.trace == "-") {
    return board::MakeTraceRecorder(board::TraceFileKind::kText,
                                    std::make_unique<StreamOutput>(*env.err), "qvx");
  }
  std::string why;
  std::unique_ptr<board::TraceRecorder> trace = board::OpenTraceFile(a.trace, "qvx", &why);
  if (!trace) throw UsageError("bad --trace: " + why);
  return trace;
}

// The state file to keep the emulated board in; empty: none.
std::string StateFile(const Commands& c, const Arguments& a, const Environment& env) {
  if (c.state_file->count() == 0) return env.emulated_state_variable;
  if (a.state_file.empty()) throw UsageError("bad --emulated-state: empty file name");
  return a.state_file;
}

// Detaches the trace when the command is over, however it ends.
class TraceScope {
 public:
  TraceScope(CUSBChannel& board, board::TraceSink* trace) : board_(board) {
    board_.AttachTrace(trace);
  }
  ~TraceScope() { board_.AttachTrace(nullptr); }
  TraceScope(const TraceScope&) = delete;
  TraceScope& operator=(const TraceScope&) = delete;

 private:
  CUSBChannel& board_;
};

// "no board found (04B4:E006 "manufacturer" "product")".
std::string NoBoardFound() {
  char ids[16];
  std::snprintf(ids, sizeof ids, "%04X:%04X", static_cast<unsigned>(board_identity::kVendorId),
                static_cast<unsigned>(board_identity::kProductId));
  return std::string("no board found (") + ids + " \"" + board_identity::kManufacturer + "\" \"" +
         board_identity::kProduct + "\")";
}

// The selectors that name `board`: its index, and its serial and location where it has them
// (its path where it has neither).
std::string BoardNames(const BoardCandidate& board, std::size_t index) {
  std::string names = "index:" + std::to_string(index);
  if (!board.serial.empty()) names += ", serial:" + board.serial;
  if (!board.location.empty()) names += ", location:" + board.location;
  if (board.serial.empty() && board.location.empty()) names += ", path:" + board.path;
  return names;
}

int RunCommand(const Action& action, platform::HidBackend& backend, const Environment& env,
               board::TraceSink* trace) {
  HidBoardOpener opener(backend);
  CUSBChannel board(opener);
  TraceScope traced(board, trace);
  if (board.OpenBoard() != 0) {
    const std::string why = WhyBoardCannotBeOpened(backend);
    if (!why.empty()) {
      *env.err << "qvx: board found but cannot be opened: " << why << '\n';
      return kExitFailed;
    }
    *env.err << "qvx: " << NoBoardFound() << '\n';
    return kExitFailed;
  }
  try {
    return action(board, Output{*env.out, env.out_is_terminal});
  } catch (const NoAnswer& e) {
    *env.err << "qvx: " << e.what() << '\n';
    return kExitNoAnswer;
  } catch (const I2cStatus& e) {
    *env.err << "qvx: " << e.what() << '\n';
    return kExitI2cStatus;
  } catch (const Failure& e) {
    // Reported here: the board may have changed all the same, and its state is still saved.
    *env.err << "qvx: " << e.what() << '\n';
    return kExitFailed;
  }
}

// How many numbered emulated boards --emulated-boards asks for; 0: the option was not given.
unsigned BoardCount(const Commands& c, const Arguments& a) {
  if (c.board_count->count() == 0) return 0;
  const std::string& text = a.board_count;
  const bool digits = !text.empty() && text.size() <= 2 &&
                      text.find_first_not_of("0123456789") == std::string::npos;
  const unsigned count = digits ? static_cast<unsigned>(std::stoul(text)) : 0;
  if (count < 1 || count > kMaxEmulatedBoards) {
    throw UsageError("bad --emulated-boards '" + text + "': expected 1.." +
                     std::to_string(kMaxEmulatedBoards) +
                     " (each emulated board holds a whole board's memories; a bench has fewer "
                     "sockets than that)");
  }
  if (c.model_file->count() > 0) {
    throw UsageError(
        "--emulated-boards and --emulated-model both say which emulated boards there are: give "
        "one of them");
  }
  return count;
}

// The board model to run against; empty: none. Numbered boards take the place of the model the
// environment names.
std::string ModelFile(const Commands& c, const Arguments& a, const Environment& env,
                      unsigned board_count) {
  if (c.model_file->count() == 0) return board_count > 0 ? "" : env.emulated_model_variable;
  if (a.model_file.empty()) throw UsageError("bad --emulated-model: empty file name");
  return a.model_file;
}

constexpr unsigned kMostServedBoards = 64;

// `qvx serve`: runs until it is stopped.
int Serve(const Commands& c, const Arguments& a, const Environment& env) {
  unsigned boards = 0;
  std::size_t used = 0;
  try {
    boards = static_cast<unsigned>(std::stoul(a.serve_boards, &used, 10));
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != a.serve_boards.size() || boards < 1 || boards > kMostServedBoards) {
    throw UsageError("bad --boards '" + a.serve_boards + "': expected 1.." +
                     std::to_string(kMostServedBoards));
  }
  if (c.serve_name->count() > 0 && a.serve_name.empty()) {
    throw UsageError("bad --name: empty name");
  }
  for (const auto& [given, option] : {std::pair<bool, const char*>{c.board->count() > 0, "--board"},
                                      {c.trace->count() > 0, "--trace"},
                                      {c.state_file->count() > 0, "--emulated-state"},
                                      {c.model_file->count() > 0, "--emulated-model"},
                                      {a.emulated, "--emulated"}}) {
    if (given)
      throw UsageError(std::string("serve holds fresh boards of its own: ") + option +
                       " does not apply");
  }
  std::string why;
  const std::unique_ptr<BoardServer> server =
      BoardServer::Start(boards, a.serve_name, *env.err, &why);
  if (!server) {
    *env.err << "qvx: cannot serve: " << why << '\n';
    return kExitFailed;
  }
  platform::StopOnInterrupt(&server->Listener());
  *env.out << server->Name() << '\n' << std::flush;
  server->Serve();
  platform::StopOnInterrupt(nullptr);
  return kExitOk;
}

int Run(const Commands& c, const Arguments& a, const Environment& env) {
  if (c.serve->parsed()) return Serve(c, a, env);
  // Every argument, the state file and the model included, is checked before a device is opened.
  std::optional<Action> action;
  if (!c.list->parsed()) action = Choose(c, a);
  const std::string state_file = StateFile(c, a, env);
  const unsigned board_count = BoardCount(c, a);
  const std::string model_file = ModelFile(c, a, env, board_count);
  std::optional<BoardSelector> selector;
  if (c.board->count() > 0) {
    BoardSelector parsed;
    std::string error;
    if (!ParseBoardSelector(a.board, &parsed, &error)) throw UsageError(error);
    selector = parsed;
  }
  std::vector<emulator::BoardModel> models;
  if (!model_file.empty()) {
    try {
      models = emulator::LoadBoardModelFile(model_file);
    } catch (const emulator::ModelError& e) {
      throw UsageError(e.what());
    }
  }
  const std::optional<emulator::BoardState> saved =
      state_file.empty() ? std::nullopt : LoadStateFile(state_file);

  std::unique_ptr<EmulatedSession> session;
  std::unique_ptr<platform::ServedHidSystem> served;
  platform::HidBackend* backend = nullptr;
  if (board_count > 0) {
    session = std::make_unique<EmulatedSession>(board_count);
    backend = &session->Backend();
  } else if (!state_file.empty() || !model_file.empty()) {
    session = model_file.empty() ? std::make_unique<EmulatedSession>()
                                 : std::make_unique<EmulatedSession>(models);
    backend = &session->Backend();
  } else {
    backend = a.emulated ? env.emulated : env.hardware;
    if (a.emulated && !env.emulated_server_variable.empty()) {
      served = std::make_unique<platform::ServedHidSystem>(env.emulated_server_variable);
      const std::string why = served->SetupFailure();
      if (!why.empty()) {
        *env.err << "qvx: " << why << '\n';
        return kExitFailed;
      }
      backend = served.get();
    } else if (backend == nullptr && a.emulated) {
      session = std::make_unique<EmulatedSession>();
      backend = &session->Backend();
    }
  }
  if (backend == nullptr) backend = &DefaultBoardOpener().Backend();

  platform::HidBackend& every = *backend;
  std::unique_ptr<SelectedBoardBackend> selected;
  std::string selected_path;
  int selected_index = -1;
  std::vector<BoardCandidate> boards;
  if (selector || action) boards = ListBoardCandidates(*backend);
  std::string first_note;
  if (!selector && action && boards.size() > 1) {
    // With several boards, say which one a command without --board goes to, and make it so.
    first_note = "qvx: " + std::to_string(boards.size()) + " boards found, using the first (" +
                 BoardNames(boards.front(), 0) + "); choose one with --board\n";
    selector = BoardSelector{};
  }
  if (selector) {
    const int index = MatchBoard(boards, *selector);
    if (index < 0) {
      *env.err << "qvx: no board matches " << SelectorText(*selector) << " (" << boards.size()
               << (boards.size() == 1 ? " board" : " boards") << " found)\n";
      return kExitFailed;
    }
    selected_index = index;
    selected_path = boards[static_cast<std::size_t>(index)].path;
    selected = std::make_unique<SelectedBoardBackend>(*backend, selected_path);
    backend = selected.get();
  }

  // With several modelled boards the state file keeps the chosen board's state.
  emulator::BoardEmulator* kept = session ? &session->BoardAt(selected_path) : nullptr;
  if (saved && !kept->LoadState(*saved)) {
    throw UsageError("'" + state_file + "' holds a board state this emulator cannot take");
  }

  // Made last, once everything else has been accepted: a refused run leaves no trace file.
  const std::unique_ptr<board::TraceRecorder> trace = OpenTrace(c, a, env);
  int code = kExitOk;
  if (action) {
    *env.err << first_note;  // once everything has been accepted: bad input has one message
    code = RunCommand(*action, *backend, env, trace.get());
  } else if (a.list_all) {
    code = ListDevices(*backend, *env.out);
  } else if (ListBoards(every, *env.out, selected_index) == 0) {
    *env.err << "qvx: " << NoBoardFound() << '\n';
    code = kExitFailed;
  }
  if (!state_file.empty()) qvx::SaveStateFile(state_file, kept->SaveState());
  return code;
}

}  // namespace

int RunQvx(const std::vector<std::string>& args, const Environment& env) {
  CLI::App app("Drives the Qelvantorix USB adapter board: I2C master, EEPROM, lines, sensor.",
               "qvx");
  app.footer(
      "Exit codes: 0 done; 1 no board, a board that cannot be opened, or a file or verify "
      "failure; 2 bad input (nothing was sent); 3 the board did not answer; 4 an I2C transfer "
      "ended with a status byte other than 0 (the slave did not acknowledge).");
  Arguments arguments;
  const Commands commands = Describe(app, arguments);

  std::vector<const char*> argv{"qvx"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e, *env.out, *env.err);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e, *env.out, *env.err);
  } catch (const CLI::ParseError& e) {
    // A word that is no command shows up as a missing command; name the word instead.
    const std::vector<std::string> unknown = app.remaining();
    if (!unknown.empty()) {
      *env.err << "qvx: unknown command or argument '" << unknown.front()
               << "' (qvx --help shows the commands)\n";
      return kExitUsage;
    }
    *env.err << "qvx: " << e.what() << " (qvx --help shows the commands)\n";
    return kExitUsage;
  }

  try {
    return Run(commands, arguments, env);
  } catch (const UsageError& e) {
    *env.err << "qvx: " << e.what() << '\n';
    return kExitUsage;
  } catch (const Failure& e) {
    *env.err << "qvx: " << e.what() << '\n';
    return kExitFailed;
  }
}

}  // namespace qvx
