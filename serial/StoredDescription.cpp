#include "serial/StoredDescription.h"

#include <array>
#include <charconv>
#include <functional>
#include <map>
#include <sstream>
#include <string_view>

#include "serial/ComPort.h"

namespace {

constexpr std::array<std::string_view, 18> BaudRateNames = {
    "brDefault", "br110",   "br300",   "br600",   "br1200",  "br2400",
    "br4800",    "br9600",  "br10400", "br14400", "br19200", "br28800",
    "br38400",   "br56000", "br57600", "br115200", "br128000", "br256000"};
constexpr std::array<std::string_view, 6> ParityNames = {"paDefault", "paNone", "paOdd",
                                                         "paEven",    "paMark", "paSpace"};
constexpr std::array<std::string_view, 4> StopBitsNames = {"sbDefault", "sb1", "sb1_5", "sb2"};
constexpr std::array<std::string_view, 6> DataBitsNames = {"dbDefault", "db4", "db5",
                                                           "db6",       "db7", "db8"};
constexpr std::array<std::string_view, 8> OptionNames = {
    "opCheckParity",    "opOutputCTSFlow", "opOutputDSRFlow",    "opDSRSensitivity",
    "opTXContinueOnXOff", "opUseErrorChar", "opDiscardNullBytes", "opAbortOnError"};
constexpr std::array<std::string_view, 4> DTRNames = {"dcDefault", "dcDisable", "dcEnable",
                                                      "dcHandshake"};
constexpr std::array<std::string_view, 5> RTSNames = {"rcDefault", "rcDisable", "rcEnable",
                                                      "rcHandshake", "rcToggle"};
constexpr std::array<std::string_view, 5> XOnXOffNames = {"xcDefault", "xcDisable", "xcInput",
                                                          "xcOutput", "xcInputOutput"};
constexpr std::array<std::string_view, 5> PriorityNames = {"pcDefault", "pcIdle", "pcNormal",
                                                           "pcHigh", "pcRealTime"};

struct BadValue {};

template <typename E, std::size_t N>
std::string_view NameOf(const std::array<std::string_view, N>& names, E value) {
  return names[static_cast<std::size_t>(value)];
}

template <typename E, std::size_t N>
E ParseEnum(const std::array<std::string_view, N>& names, std::string_view text) {
  for (std::size_t i = 0; i < N; ++i)
    if (names[i] == text) return static_cast<E>(i);
  throw BadValue{};
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

template <typename T>
T ParseNumber(std::string_view text) {
  T value{};
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) throw BadValue{};
  return value;
}

bool ParseBool(std::string_view text) {
  if (text == "True") return true;
  if (text == "False") return false;
  throw BadValue{};
}

// Characters as #n, the byte's code.
std::string CharText(char c) { return "#" + std::to_string(static_cast<unsigned char>(c)); }
char ParseChar(std::string_view text) {
  if (text.size() < 2 || text.front() != '#') throw BadValue{};
  return static_cast<char>(ParseNumber<std::uint8_t>(text.substr(1)));
}

// Text as quoted runs of printable bytes ('' for a quote) joined with #n for all others, so
// that any name, blanks and control bytes included, reads back unchanged.
std::string QuotedText(const std::string& s) {
  std::string out;
  bool open = false;
  for (char ch : s) {
    const auto b = static_cast<unsigned char>(ch);
    if (b >= 0x20 && b < 0x7F) {
      if (!open) out += '\'';
      open = true;
      out += ch;
      if (ch == '\'') out += '\'';
    } else {
      if (open) out += '\'';
      open = false;
      out += CharText(ch);
    }
  }
  if (open) out += '\'';
  return out.empty() ? "''" : out;
}

std::string ParseQuoted(std::string_view text) {
  std::string out;
  std::size_t i = 0;
  if (text.empty()) throw BadValue{};
  while (i < text.size()) {
    if (text[i] == '\'') {
      ++i;
      for (;;) {
        if (i >= text.size()) throw BadValue{};
        if (text[i] == '\'') {
          if (i + 1 < text.size() && text[i + 1] == '\'') {
            out += '\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        out += text[i++];
      }
    } else if (text[i] == '#') {
      std::size_t j = i + 1;
      while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
      out += ParseChar(text.substr(i, j - i));
      i = j;
    } else {
      throw BadValue{};
    }
  }
  return out;
}

std::string OptionsText(TOptions options) {
  std::string out = "[";
  for (std::size_t i = 0; i < OptionNames.size(); ++i) {
    if (!options.Contains(static_cast<TOption>(i))) continue;
    if (out.size() > 1) out += ", ";
    out += OptionNames[i];
  }
  return out + "]";
}

TOptions ParseOptions(std::string_view text) {
  if (text.size() < 2 || text.front() != '[' || text.back() != ']') throw BadValue{};
  TOptions options;
  std::string_view rest = Trim(text.substr(1, text.size() - 2));
  while (!rest.empty()) {
    const auto comma = rest.find(',');
    const std::string_view item = Trim(rest.substr(0, comma));
    options.Include(ParseEnum<TOption>(OptionNames, item));
    if (comma == std::string_view::npos) break;
    rest = rest.substr(comma + 1);
    if (Trim(rest).empty()) throw BadValue{};
  }
  return options;
}

using Setter = std::function<void(TCustomComPort&, std::string_view)>;

const std::map<std::string_view, Setter>& Setters() {
  static const std::map<std::string_view, Setter> setters = {
      {"Active", [](TCustomComPort& p, std::string_view v) { p.SetActive(ParseBool(v)); }},
      {"BaudRate",
       [](TCustomComPort& p, std::string_view v) {
         p.SetBaudRate(ParseEnum<TBaudRate>(BaudRateNames, v));
       }},
      {"BufferSizes.Input",
       [](TCustomComPort& p, std::string_view v) {
         p.BufferSizes().SetInput(ParseNumber<std::int32_t>(v));
       }},
      {"BufferSizes.Output",
       [](TCustomComPort& p, std::string_view v) {
         p.BufferSizes().SetOutput(ParseNumber<std::int32_t>(v));
       }},
      {"Characters.XOn",
       [](TCustomComPort& p, std::string_view v) { p.Characters().SetXOn(ParseChar(v)); }},
      {"Characters.XOff",
       [](TCustomComPort& p, std::string_view v) { p.Characters().SetXOff(ParseChar(v)); }},
      {"Characters.Error",
       [](TCustomComPort& p, std::string_view v) { p.Characters().SetError(ParseChar(v)); }},
      {"Characters.Eof",
       [](TCustomComPort& p, std::string_view v) { p.Characters().SetEof(ParseChar(v)); }},
      {"Characters.Event",
       [](TCustomComPort& p, std::string_view v) { p.Characters().SetEvent(ParseChar(v)); }},
      {"DataBits",
       [](TCustomComPort& p, std::string_view v) {
         p.SetDataBits(ParseEnum<TDataBits>(DataBitsNames, v));
       }},
      {"DeviceName",
       [](TCustomComPort& p, std::string_view v) { p.SetDeviceName(ParseQuoted(v)); }},
      {"FlowControl.DTR",
       [](TCustomComPort& p, std::string_view v) {
         p.FlowControl().SetDTR(ParseEnum<TDTRControl>(DTRNames, v));
       }},
      {"FlowControl.RTS",
       [](TCustomComPort& p, std::string_view v) {
         p.FlowControl().SetRTS(ParseEnum<TRTSControl>(RTSNames, v));
       }},
      {"FlowControl.XOnXOff",
       [](TCustomComPort& p, std::string_view v) {
         p.FlowControl().SetXOnXOff(ParseEnum<TXOnXOffControl>(XOnXOffNames, v));
       }},
      {"FlowControl.XOnLimit",
       [](TCustomComPort& p, std::string_view v) {
         p.FlowControl().SetXOnLimit(ParseNumber<std::uint16_t>(v));
       }},
      {"FlowControl.XOffLimit",
       [](TCustomComPort& p, std::string_view v) {
         p.FlowControl().SetXOffLimit(ParseNumber<std::uint16_t>(v));
       }},
      {"Options", [](TCustomComPort& p, std::string_view v) { p.SetOptions(ParseOptions(v)); }},
      {"Parity",
       [](TCustomComPort& p, std::string_view v) {
         p.SetParity(ParseEnum<TParity>(ParityNames, v));
       }},
      {"PriorityClass",
       [](TCustomComPort& p, std::string_view v) {
         p.SetPriorityClass(ParseEnum<TPriorityClass>(PriorityNames, v));
       }},
      {"StopBits",
       [](TCustomComPort& p, std::string_view v) {
         p.SetStopBits(ParseEnum<TStopBits>(StopBitsNames, v));
       }},
      {"SynchronizeEvents",
       [](TCustomComPort& p, std::string_view v) { p.SetSynchronizeEvents(ParseBool(v)); }},
      {"Timeouts.ReadInterval",
       [](TCustomComPort& p, std::string_view v) {
         p.Timeouts().SetReadInterval(ParseNumber<std::int32_t>(v));
       }},
      {"Timeouts.ReadMultiplier",
       [](TCustomComPort& p, std::string_view v) {
         p.Timeouts().SetReadMultiplier(ParseNumber<std::int32_t>(v));
       }},
      {"Timeouts.ReadConstant",
       [](TCustomComPort& p, std::string_view v) {
         p.Timeouts().SetReadConstant(ParseNumber<std::int32_t>(v));
       }},
      {"Timeouts.WriteMultiplier",
       [](TCustomComPort& p, std::string_view v) {
         p.Timeouts().SetWriteMultiplier(ParseNumber<std::int32_t>(v));
       }},
      {"Timeouts.WriteConstant",
       [](TCustomComPort& p, std::string_view v) {
         p.Timeouts().SetWriteConstant(ParseNumber<std::int32_t>(v));
       }},
  };
  return setters;
}

class TWriter {
 public:
  template <typename T>
  void Put(std::string_view name, const T& value, const T& initial, const std::string& text) {
    if (!(value == initial)) Line(name, text);
  }
  void Line(std::string_view name, const std::string& text) {
    FOut << name << " = " << text << '\n';
  }
  std::string Text() const { return FOut.str(); }

 private:
  std::ostringstream FOut;
};

}  // namespace

std::string WriteStoredDescription(const TCustomComPort& port) {
  const TFlowControl flow0;
  const TCharacters chars0;
  const TBufferSizes sizes0;
  const TTimeouts times0;
  TWriter w;
  w.Line("Active", port.ActiveRequested() ? "True" : "False");
  w.Put("BaudRate", port.BaudRate(), TBaudRate::brDefault,
        std::string(NameOf(BaudRateNames, port.BaudRate())));
  const TBufferSizes& sizes = port.BufferSizes();
  w.Put("BufferSizes.Input", sizes.Input(), sizes0.Input(), std::to_string(sizes.Input()));
  w.Put("BufferSizes.Output", sizes.Output(), sizes0.Output(), std::to_string(sizes.Output()));
  const TCharacters& chars = port.Characters();
  w.Put("Characters.XOn", chars.XOn(), chars0.XOn(), CharText(chars.XOn()));
  w.Put("Characters.XOff", chars.XOff(), chars0.XOff(), CharText(chars.XOff()));
  w.Put("Characters.Error", chars.Error(), chars0.Error(), CharText(chars.Error()));
  w.Put("Characters.Eof", chars.Eof(), chars0.Eof(), CharText(chars.Eof()));
  w.Put("Characters.Event", chars.Event(), chars0.Event(), CharText(chars.Event()));
  w.Put("DataBits", port.DataBits(), TDataBits::dbDefault,
        std::string(NameOf(DataBitsNames, port.DataBits())));
  if (!port.DeviceName().empty()) w.Line("DeviceName", QuotedText(port.DeviceName()));
  const TFlowControl& flow = port.FlowControl();
  w.Put("FlowControl.DTR", flow.DTR(), flow0.DTR(), std::string(NameOf(DTRNames, flow.DTR())));
  w.Put("FlowControl.RTS", flow.RTS(), flow0.RTS(), std::string(NameOf(RTSNames, flow.RTS())));
  w.Put("FlowControl.XOnXOff", flow.XOnXOff(), flow0.XOnXOff(),
        std::string(NameOf(XOnXOffNames, flow.XOnXOff())));
  w.Put("FlowControl.XOnLimit", flow.XOnLimit(), flow0.XOnLimit(),
        std::to_string(flow.XOnLimit()));
  w.Put("FlowControl.XOffLimit", flow.XOffLimit(), flow0.XOffLimit(),
        std::to_string(flow.XOffLimit()));
  w.Line("Options", OptionsText(port.Options()));
  w.Put("Parity", port.Parity(), TParity::paDefault,
        std::string(NameOf(ParityNames, port.Parity())));
  w.Put("PriorityClass", port.PriorityClass(), TPriorityClass::pcDefault,
        std::string(NameOf(PriorityNames, port.PriorityClass())));
  w.Put("StopBits", port.StopBits(), TStopBits::sbDefault,
        std::string(NameOf(StopBitsNames, port.StopBits())));
  w.Put("SynchronizeEvents", port.SynchronizeEvents(), true,
        std::string(port.SynchronizeEvents() ? "True" : "False"));
  const TTimeouts& t = port.Timeouts();
  w.Put("Timeouts.ReadInterval", t.ReadInterval(), times0.ReadInterval(),
        std::to_string(t.ReadInterval()));
  w.Put("Timeouts.ReadMultiplier", t.ReadMultiplier(), times0.ReadMultiplier(),
        std::to_string(t.ReadMultiplier()));
  w.Put("Timeouts.ReadConstant", t.ReadConstant(), times0.ReadConstant(),
        std::to_string(t.ReadConstant()));
  w.Put("Timeouts.WriteMultiplier", t.WriteMultiplier(), times0.WriteMultiplier(),
        std::to_string(t.WriteMultiplier()));
  w.Put("Timeouts.WriteConstant", t.WriteConstant(), times0.WriteConstant(),
        std::to_string(t.WriteConstant()));
  return w.Text();
}

void ReadStoredDescription(TCustomComPort& port, const std::string& text) {
  port.BeginLoading();
  try {
    std::istringstream in(text);
    std::string raw;
    int number = 0;
    while (std::getline(in, raw)) {
      ++number;
      const std::string_view line = Trim(raw);
      if (line.empty()) continue;
      const auto eq = line.find('=');
      const auto bad = [&] {
        return Exception("Invalid line " + std::to_string(number) + " of the port settings: \"" +
                         std::string(line) + "\"");
      };
      if (eq == std::string_view::npos) throw bad();
      const auto it = Setters().find(Trim(line.substr(0, eq)));
      if (it == Setters().end()) throw bad();
      try {
        it->second(port, Trim(line.substr(eq + 1)));
      } catch (const BadValue&) {
        throw bad();
      }
    }
  } catch (...) {
    // End the loading state without acting on a half-restored Active.
    port.TComponent::LoadingDone();
    throw;
  }
  port.LoadingDone();
}
