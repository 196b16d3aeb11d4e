#include "uEntry.h"

#include <memory>

#include "uCommandLine.h"
#include "uCommandRuns.h"
#include "uErrors.h"
#include "uFunction.h"
#include "uFunctionIO.h"
#include "uMessages.h"
#include "uPlatform.h"
#include "uStopRequest.h"
#include "uStrings.h"
#include "uVersion.h"

namespace {

const std::string AplTag = "APL";
const std::string LogFilePattern = "_pid_{pid}.{number}.{tag}.log";
constexpr size_t MaxCredentialLength = 30;

// ---- rebuilding the command line ---------------------------------------------------------
// Character classes of the option parser, as far as a token's head is concerned.
bool IsSwitchChar(char C) { return C == '+' || C == '-' || C == '/'; }
bool IsNameChar(char C) {
  return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '#' || C == '%' ||
         C == '&' || C == '?' || C == '_';
}
bool IsFlagChar(char C) { return C == '+' || C == '-' || C == ':' || C == '='; }
bool IsWhite(char C) { return C == ' ' || C == '\t'; }

std::string Quoted(const std::string& Text) {
  // No escape exists: a text holding a double quote goes into apostrophes instead.
  char q = Text.find('"') == std::string::npos ? '"' : '\'';
  return q + Text + q;
}

// One argument as the parser must see it so that it stays one value. The head of an option
// (switch, name, flag with ":" or "=") stays as written and only its value is quoted; list
// values "(...)" and values already in quotes are left alone. An argument that is no such
// option is quoted whole, so that it can serve as the value of an option written before it
// ("-f=" "a b.cfg").
std::string RequoteArgument(const std::string& Arg) {
  bool white = false;
  for (char c : Arg) white = white || IsWhite(c);
  if (!white) return Arg;

  // Mirrors the parser's token steps: a blank after the switch and between name and flag is
  // passed over only when it begins with a space, and a flag behind blanks starts with ":" or "=".
  size_t i = 0, n = Arg.size();
  while (i < n && IsSwitchChar(Arg[i])) ++i;
  if (i < n && Arg[i] == ' ')
    while (i < n && IsWhite(Arg[i])) ++i;
  size_t nameStart = i;
  while (i < n && IsNameChar(Arg[i])) ++i;
  bool named = i > nameStart;
  std::string flag;
  if (i < n && Arg[i] == ' ')
    while (i < n && IsWhite(Arg[i])) ++i;
  else
    while (i < n && IsFlagChar(Arg[i])) flag += Arg[i++];
  if (i < n && (Arg[i] == ':' || Arg[i] == '='))
    while (i < n && IsFlagChar(Arg[i])) flag += Arg[i++];
  while (i < n && IsWhite(Arg[i])) ++i;

  if (!named || flag.find_first_of(":=") == std::string::npos) return Quoted(Arg);
  std::string value = Arg.substr(i);
  bool valueWhite = false;
  for (char c : value) valueWhite = valueWhite || IsWhite(c);
  if (!valueWhite || value[0] == '(' || value[0] == '"' || value[0] == '\'') return Arg;
  return Arg.substr(0, i) + Quoted(value);
}

// ---- reading the parsed options ----------------------------------------------------------
class TOptionTests {
 public:
  explicit TOptionTests(const TOptionParser& Parser) : fParser(Parser) {}
  const TOption* Find(const std::string& Key) const {
    TOption* o = nullptr;
    return fParser.TryGetValue(Key, o) ? o : nullptr;
  }
  bool Switch(const std::string& Key) const {
    auto* o = Find(Key);
    return o && o->Switch() == "-";
  }
  bool Value(const std::string& Key) const {
    auto* o = Find(Key);
    return o && o->Flag() == "=";
  }
  bool Word(const std::string& Key) const {
    auto* o = Find(Key);
    return o && o->Flag().empty();
  }
  std::string Text(const std::string& Key) const {
    auto* o = Find(Key);
    return o ? o->AsString() : std::string();
  }

 private:
  const TOptionParser& fParser;
};

// "0" switches off, "1" on; anything else leaves it on.
uint8_t ZeroOrOne(const TOptionTests& Options, const std::string& Key) {
  if (Options.Value(Key)) {
    std::string v = Options.Text(Key);
    if (v == "0") return 0;
  }
  return 1;
}

// The parser's own account of the options the client knows, for the debug records. Values
// of the password and of the proxy (which may hold one) are not written out, and unknown
// names are left out: a password split by a blank would otherwise show up as a name.
void LogCommandLine(const TOptionParser& Parser, TLogWriter& Log) {
  static const char* const Known[] = {"orvel", "kalvio", "upgrade", "d", "f", "k", "l", "ln",
                                      "lf", "lfn", "p", "t", "u", "x", "test"};
  std::vector<std::string> lines;
  Parser.Debug(lines);
  size_t i = 0;
  for (const TOption& option : Parser) {
    if (i >= lines.size()) break;
    std::string line = lines[i++];
    std::string key = AsciiLower(option.Name());
    bool known = false;
    for (const char* k : Known) known = known || key == k;
    if (!known) continue;
    auto* text = dynamic_cast<const TStringOption*>(&option);
    if ((key == "p" || key == "x") && text && !text->Params().empty()) {
      std::string values = "Values[" + text->ValuesText() + "]";
      if (!EndsWith(line, values)) continue;
      line = line.substr(0, line.size() - values.size()) + "Values[*****]";
    }
    Log.Debug(line, AplTag);
  }
}

struct TEntryState {
  TSettings Settings;
  std::unique_ptr<TLogWriter> Log;
  std::vector<std::string> FileList;
};

// Steps from parsing up to the command run; a return is the end of the run.
void RunEntry(const std::vector<std::string>& Args, const TCommandRuns& Runs, TEntryState& State) {
  TSettings& Settings = State.Settings;
  auto parser = std::make_unique<TOptionParser>();
  parser->Parse(RebuildCommandLine(Args));
  TOptionTests options(*parser);

  Settings.LogApl = std::string("logs") + Platform::PathDelim;
  if (options.Switch("l")) {
    Settings.LogApl = options.Text("l");
    if (!Platform::DirectoryExists(Settings.LogApl) && !Platform::CreateDir(Settings.LogApl)) {
      // No log exists yet: the console is the only place to say why the run ends.
      Platform::ConsoleWriteLine(Format(MsgDirNotCreated, Settings.LogApl));
      return;
    }
  }
  if (options.Switch("ln")) Settings.LogAplName = options.Text("ln");
  if (options.Switch("lfn")) Settings.LogItemName = options.Text("lfn");

  TLogWriterConfig config;
  config.Directory = Settings.LogApl;
  config.FileNamePattern = FileNameTag(Settings.LogAplName) + LogFilePattern;
  config.MaxFiles = 1;
  config.MinLevel = Settings.LogAplName.empty() ? TLogLevel::llInfo : TLogLevel::llDebug;
  State.Log = std::make_unique<TLogWriter>(config);
  TLogWriter& Log = *State.Log;

  if (Args.empty()) {
    std::string help = Format(MsgHelp, AppVersion, AppBuildDate);
    Log.Warn(help, AplTag);
    Platform::ConsoleWriteLine(help);
    std::string line;
    Platform::ConsoleReadLine(line);
    return;
  }

  Log.Info(MsgAppStart, AplTag);
  LogCommandLine(*parser, Log);
  Settings.ProxyUse = false;
  if (options.Switch("x")) {
    std::string protocol, path, query;
    ParseURL(options.Text("x"), protocol, Settings.ProxyUser, Settings.ProxyPassword, Settings.ProxyHost,
             Settings.ProxyPort, path, query);
    Settings.ProxyUse = !Settings.ProxyHost.empty();
  }

  Settings.pType = 0;
  if (options.Word("orvel")) Settings.pType = 1;

  if (options.Value("u")) Settings.UserName = Utf16Left(StripTags(Trim(options.Text("u"))), MaxCredentialLength);
  if (options.Value("p")) Settings.Password = Utf16Left(StripTags(Trim(options.Text("p"))), MaxCredentialLength);

  Settings.Temp = Platform::ProgramDirectory() + "tmp";
  if (options.Value("t")) Settings.Temp = Trim(options.Text("t"));
  if (!Platform::DirectoryExists(Settings.Temp) && !Platform::CreateDir(Settings.Temp)) {
    Log.Error(Format(MsgDirNotCreated, Settings.Temp), AplTag);
    return;
  }

  Settings.LogItem.clear();
  // An empty -lf names no folder: taken literally it would be the file system's root, where
  // control files and transfer logs would be lost without a word. It counts as not given.
  if (options.Value("lf") && !Trim(options.Text("lf")).empty()) {
    Settings.LogItem = Trim(options.Text("lf")) + Platform::PathDelim;
    if (!Platform::DirectoryExists(Settings.LogItem) && !Platform::CreateDir(Settings.LogItem)) {
      Log.Error(Format(MsgDirNotCreated, Settings.LogItem), AplTag);
      return;
    }
  }

  Settings.TestUrl = false;
  if (options.Switch("test")) {
    Settings.TestUrl = true;
    Log.Info(MsgTestMode, AplTag);
  }

  if (options.Word("kalvio")) {
    Settings.pType = 2;
    bool noUser = Trim(Settings.UserName).empty();
    bool noPassword = Trim(Settings.Password).empty();
    if (noUser) Log.Warn(MsgNoUserName, AplTag);
    if (noPassword) Log.Warn(MsgNoPassword, AplTag);
    if (noUser || noPassword) return;
    Settings.Duplicate = ZeroOrOne(options, "d");
  }

  if (options.Word("upgrade")) {
    Settings.pType = 0;
    parser.reset();
    if (Runs.Upgrade)
      Runs.Upgrade(Settings, Log);
    else
      RunUpgradeCommand(Settings, Log);
    return;
  }

  if (const TOption* f = options.Find("f")) {
    if (f->Flag() == ":") {
      for (const auto& v : f->AsStringList()) State.FileList.push_back(v);
    } else if (f->Flag() == "=") {
      // "-f=" without a value names no file.
      if (!f->AsString().empty()) State.FileList.push_back(f->AsString());
    }
    if (State.FileList.empty()) {
      Log.Error(MsgNoOrderFiles, AplTag);
      return;
    }
  } else {
    Log.Error(MsgNoSwitchF, AplTag);
    return;
  }

  Settings.ControleFile = ZeroOrOne(options, "k");

  parser.reset();
  if (Settings.pType == 0) return;
  if (Runs.Transfers)
    Runs.Transfers(Settings, Log, State.FileList);
  else
    RunTransfers(Settings, Log, State.FileList);
}

}  // namespace

std::string RebuildCommandLine(const std::vector<std::string>& Args) {
  std::string line;
  for (size_t i = 0; i < Args.size(); ++i) {
    if (i) line += ' ';
    line += RequoteArgument(Args[i]);
  }
  return line;
}

int ZentrikMain(const std::vector<std::string>& Args) { return ZentrikMain(Args, TCommandRuns{}); }

int ZentrikMain(const std::vector<std::string>& Args, const TCommandRuns& Runs) {
  TEntryState state;
  Platform::ConsoleWriteLine(MsgAppStart);
  Platform::ConsoleWriteLine("");
  try {
    RunEntry(Args, Runs, state);
  } catch (const std::exception& e) {
    Platform::ConsoleWriteLine(std::string(ErrorClassName(e)) + ": " + e.what());
  } catch (...) {
    Platform::ConsoleWriteLine("Exception: unknown error");
  }
  // Closing steps, on every path.
  if (state.Log) state.Log->Info(MsgAppEnd, AplTag);
  state.Log.reset();
  // A stop request (update closing the client) cuts the pause short; the exit status stays 0.
  Platform::SleepUnlessStopped(700);
  return 0;
}
