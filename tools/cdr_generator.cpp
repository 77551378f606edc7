#include "cdr_generator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <span>
#include <string_view>

#include "platform/db/cdr_schema.h"

namespace remoteccm {
namespace {

// xoshiro256** seeded through splitmix64: the same numbers on every platform and library.
class Random {
 public:
  explicit Random(std::uint64_t seed) {
    for (std::uint64_t& word : state_) {
      seed += 0x9E3779B97F4A7C15ULL;
      std::uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
      word = z ^ (z >> 31);
    }
  }
  std::uint64_t Next() {
    const std::uint64_t result = Rotl(state_[1] * 5, 7) * 9;
    const std::uint64_t t = state_[1] << 17;
    state_[2] ^= state_[0];
    state_[3] ^= state_[1];
    state_[1] ^= state_[2];
    state_[0] ^= state_[3];
    state_[2] ^= t;
    state_[3] = Rotl(state_[3], 45);
    return result;
  }
  // A whole number from lo to hi, both included.
  std::int64_t Between(std::int64_t lo, std::int64_t hi) {
    return lo + static_cast<std::int64_t>(Next() % static_cast<std::uint64_t>(hi - lo + 1));
  }
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  bool Chance(double p) { return Unit() < p; }
  double Normal() {
    const double u = 1.0 - Unit();
    const double v = Unit();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * std::numbers::pi * v);
  }
  template <typename T>
  const T& Pick(std::span<const T> items) {
    return items[static_cast<std::size_t>(Between(0, static_cast<std::int64_t>(items.size()) - 1))];
  }

 private:
  static std::uint64_t Rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::array<std::uint64_t, 4> state_{};
};

struct Phone {
  std::string dn;
  std::string partition;
  std::string device;
  std::int32_t ip = 0;
  int node = 1;
};

struct Gateway {
  std::string device;
  std::int32_t ip = 0;
  int node = 1;
};

// One end of a call leg.
struct Party {
  std::string number;
  std::string partition;
  std::string device;
  std::int32_t ip = 0;
  int node = 1;
  std::int64_t leg = 0;
};

struct Leg {
  Party orig;
  Party dest;
  std::string original_called;  // number dialled (after translation)
  std::string original_called_partition;
  std::int64_t origination = 0;
  std::int64_t connect = 0;  // 0: never connected
  std::int64_t disconnect = 0;
  int orig_cause = 0;
  int dest_cause = 0;
  int orig_termination = 0;
  int dest_termination = 0;
  int join = 0;
  int codec = 4;
  std::string client_matter_code;
  std::string comment;
};

enum class CallKind { kOnNet, kOutgoing, kIncoming, kBusy, kUnanswered, kFailed, kTransfer };

constexpr std::array<std::string_view, 6> kPartitions = {"Accounts", "Marketing",   "Sales",
                                                         "Support",  "Engineering", "Phones"};
// Relative call volume per hour of the day (UTC): the business-day peaks.
constexpr std::array<int, 24> kHourWeights = {1,  1,  1,  1,  1,  2,  4,  10, 30, 45, 50, 48,
                                              35, 40, 48, 46, 42, 30, 15, 8,  5,  3,  2,  1};
constexpr std::array<int, 6> kFailCauses = {1, 28, 34, 38, 41, 47};
constexpr std::array<std::string_view, 5> kAreaCodes = {"2920", "1632", "2079", "1614", "1312"};

// Column positions, resolved once.
struct Columns {
  int gcid_node = CdrColumnIndex("globalCallID_callManagerId");
  int gcid_call = CdrColumnIndex("globalCallID_callId");
  int orig_leg = CdrColumnIndex("origLegCallIdentifier");
  int origination = CdrColumnIndex("dateTimeOrigination");
  int orig_node = CdrColumnIndex("origNodeId");
  int orig_span = CdrColumnIndex("origSpan");
  int orig_ip = CdrColumnIndex("origIpAddr");
  int calling = CdrColumnIndex("callingPartyNumber");
  int orig_cause = CdrColumnIndex("origCause_value");
  int orig_media_ip = CdrColumnIndex("origMediaTransportAddress_IP");
  int orig_media_port = CdrColumnIndex("origMediaTransportAddress_Port");
  int orig_codec = CdrColumnIndex("origMediaCap_payloadCapability");
  int orig_frames = CdrColumnIndex("origMediaCap_maxFramesPerPacket");
  int dest_leg = CdrColumnIndex("destLegIdentifier");
  int dest_node = CdrColumnIndex("destNodeId");
  int dest_span = CdrColumnIndex("destSpan");
  int dest_ip = CdrColumnIndex("destIpAddr");
  int original_called = CdrColumnIndex("originalCalledPartyNumber");
  int final_called = CdrColumnIndex("finalCalledPartyNumber");
  int dest_cause = CdrColumnIndex("destCause_value");
  int dest_media_ip = CdrColumnIndex("destMediaTransportAddress_IP");
  int dest_media_port = CdrColumnIndex("destMediaTransportAddress_Port");
  int dest_codec = CdrColumnIndex("destMediaCap_payloadCapability");
  int dest_frames = CdrColumnIndex("destMediaCap_maxFramesPerPacket");
  int connect = CdrColumnIndex("dateTimeConnect");
  int disconnect = CdrColumnIndex("dateTimeDisconnect");
  int last_redirect = CdrColumnIndex("lastRedirectDn");
  int pkid = CdrColumnIndex("pkid");
  int original_called_partition = CdrColumnIndex("originalCalledPartyNumberPartition");
  int calling_partition = CdrColumnIndex("callingPartyNumberPartition");
  int final_called_partition = CdrColumnIndex("finalCalledPartyNumberPartition");
  int last_redirect_partition = CdrColumnIndex("lastRedirectDnPartition");
  int duration = CdrColumnIndex("duration");
  int orig_device = CdrColumnIndex("origDeviceName");
  int dest_device = CdrColumnIndex("destDeviceName");
  int orig_termination = CdrColumnIndex("origCallTerminationOnBehalfOf");
  int dest_termination = CdrColumnIndex("destCallTerminationOnBehalfOf");
  int cluster = CdrColumnIndex("globalCallId_ClusterId");
  int join = CdrColumnIndex("joinOnBehalfOf");
  int comment = CdrColumnIndex("comment");
  int calling_login = CdrColumnIndex("callingPartyLoginUserID");
  int final_login = CdrColumnIndex("finalCalledPartyLoginUserID");
  int client_matter_code = CdrColumnIndex("clientMatterCode");
};

std::string Digits(Random& random, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += static_cast<char>('0' + random.Between(0, 9));
  return text;
}

std::string HexDigits(Random& random, int count) {
  static constexpr std::string_view kHex = "0123456789ABCDEF";
  std::string text;
  for (int i = 0; i < count; ++i) text += kHex[static_cast<std::size_t>(random.Between(0, 15))];
  return text;
}

std::string Guid(Random& random) {
  return HexDigits(random, 8) + "-" + HexDigits(random, 4) + "-4" + HexDigits(random, 3) + "-" +
         HexDigits(random, 4) + "-" + HexDigits(random, 12);
}

class Generator {
 public:
  Generator(const CdrGeneratorOptions& options, const std::function<void(const CdrRow&)>& sink)
      : options_(options), sink_(sink), random_(options.seed) {
    for (const CdrColumn& column : CdrColumns()) {
      CdrValue value;
      if (column.kind == CdrColumnKind::kInteger)
        value.number = std::stoll(std::string(column.default_value));
      template_row_.push_back(value);
    }
    BuildDirectory();
  }

  CdrGeneratorTotals Run() {
    std::vector<CallKind> kinds = ChooseKinds();
    std::vector<std::int64_t> starts = ChooseStarts(kinds.size());
    for (std::size_t i = 0; i < kinds.size(); ++i) {
      Emit(starts[i]);
      MakeCall(kinds[i], starts[i]);
    }
    Emit(INT64_MAX);
    return totals_;
  }

 private:
  struct Pending {
    std::int64_t disconnect;
    std::int64_t sequence;
    CdrRow row;
  };
  static bool Later(const Pending& a, const Pending& b) {
    return a.disconnect != b.disconnect ? a.disconnect > b.disconnect : a.sequence > b.sequence;
  }

  void BuildDirectory() {
    std::vector<int> extensions(1000);
    for (int i = 0; i < 1000; ++i) extensions[static_cast<std::size_t>(i)] = 2000 + i;
    for (std::size_t i = extensions.size() - 1; i > 0; --i) {
      std::swap(
          extensions[i],
          extensions[static_cast<std::size_t>(random_.Between(0, static_cast<std::int64_t>(i)))]);
    }
    for (int i = 0; i < 240; ++i) {
      Phone phone;
      phone.dn = std::to_string(extensions[static_cast<std::size_t>(i)]);
      phone.partition = std::string(kPartitions[static_cast<std::size_t>(i % 6)]);
      phone.device = "SEP" + HexDigits(random_, 12);
      phone.ip = CallManagerIp(10, 1, 10 + i / 200, 20 + i % 200);
      phone.node = 1 + i % 2;
      phones_.push_back(std::move(phone));
    }
    for (int g = 0; g < 2; ++g) {
      for (int port = 0; port < 2; ++port) {
        gateways_.push_back(
            {"S0/SU" + std::to_string(port) + "/DS1-0@HQ-GW" + std::to_string(g + 1),
             CallManagerIp(10, 1, 1, 1 + g), 1 + g});
      }
    }
  }

  CallKind RandomKind(bool transfer_allowed) {
    const double u = random_.Unit();
    if (u < 0.03) return transfer_allowed ? CallKind::kTransfer : CallKind::kOnNet;
    if (u < 0.05) return CallKind::kBusy;
    if (u < 0.075) return CallKind::kUnanswered;
    if (u < 0.085) return CallKind::kFailed;
    if (u < 0.235) return CallKind::kIncoming;
    if (u < 0.475) return CallKind::kOutgoing;
    return CallKind::kOnNet;
  }

  std::vector<CallKind> ChooseKinds() {
    std::vector<CallKind> kinds;
    if (options_.calls > 0) {
      for (std::int64_t i = 0; i < options_.calls; ++i) kinds.push_back(RandomKind(true));
      return kinds;
    }
    std::int64_t rows = 0;
    while (rows < options_.rows) {
      const CallKind kind = RandomKind(options_.rows - rows >= 3);
      rows += kind == CallKind::kTransfer ? 3 : 1;
      kinds.push_back(kind);
    }
    return kinds;
  }

  std::vector<std::int64_t> ChooseStarts(std::size_t count) {
    int total_weight = 0;
    for (int w : kHourWeights) total_weight += w;
    std::vector<std::int64_t> starts(count);
    const std::int64_t days = std::max<std::int64_t>(options_.days, 1);
    for (std::int64_t& start : starts) {
      const std::int64_t day = random_.Between(0, days - 1);
      std::int64_t pick = random_.Between(0, total_weight - 1);
      int hour = 0;
      while (pick >= kHourWeights[static_cast<std::size_t>(hour)]) {
        pick -= kHourWeights[static_cast<std::size_t>(hour)];
        ++hour;
      }
      start = options_.first_second + day * 86400 + hour * 3600 + random_.Between(0, 3599);
    }
    std::sort(starts.begin(), starts.end());
    return starts;
  }

  Party PhoneParty(const Phone& phone) {
    return {phone.dn, phone.partition, phone.device, phone.ip, phone.node, NextLeg()};
  }

  Party GatewayParty(std::string number, std::string partition) {
    const Gateway& gateway = random_.Pick<Gateway>(gateways_);
    return {std::move(number), std::move(partition), gateway.device,
            gateway.ip,        gateway.node,         NextLeg()};
  }

  const Phone& RandomPhone() { return random_.Pick<Phone>(phones_); }

  const Phone& OtherPhone(const Phone& than) {
    for (;;) {
      const Phone& phone = RandomPhone();
      if (&phone != &than) return phone;
    }
  }

  std::string ExternalNumber() {
    switch (random_.Between(0, 9)) {
      case 0:
        return "907" + Digits(random_, 9);  // mobile
      case 1:
        return "9100";  // operator
      case 2:
        return "90891" + Digits(random_, 6) + (random_.Chance(0.5) ? "#" : "");
      default:
        return "90" + std::string(random_.Pick<std::string_view>(kAreaCodes)) + Digits(random_, 6);
    }
  }

  std::int64_t NextLeg() { return next_leg_++; }

  std::int64_t TalkSeconds() {
    // Log-normal around 75 s, capped at four hours; now and then a call under a second.
    if (random_.Chance(0.01)) return 0;
    const double seconds = std::exp(std::log(75.0) + 1.1 * random_.Normal());
    return std::clamp<std::int64_t>(std::llround(seconds), 1, 4 * 3600);
  }

  void MakeCall(CallKind kind, std::int64_t start) {
    ++totals_.calls;
    const int node = static_cast<int>(random_.Between(1, 2));
    const std::int64_t call_id = ++call_ids_[static_cast<std::size_t>(node - 1)];
    Leg leg;
    leg.origination = start;
    const std::int64_t ring = random_.Between(2, 25);
    switch (kind) {
      case CallKind::kOnNet:
      case CallKind::kBusy:
      case CallKind::kUnanswered: {
        const Phone& caller = RandomPhone();
        const Phone& callee = OtherPhone(caller);
        leg.orig = PhoneParty(caller);
        leg.dest = PhoneParty(callee);
        leg.original_called = callee.dn;
        leg.original_called_partition = callee.partition;
        break;
      }
      case CallKind::kOutgoing:
      case CallKind::kFailed:
      case CallKind::kTransfer: {
        const Phone& caller = RandomPhone();
        leg.orig = PhoneParty(caller);
        leg.dest = GatewayParty(ExternalNumber(), "PSTN");
        leg.original_called = leg.dest.number;
        leg.original_called_partition = "PSTN";
        leg.codec = random_.Chance(0.2) ? 11 : 4;
        if (random_.Chance(0.2))
          leg.client_matter_code = Digits(random_, 4 + static_cast<int>(random_.Between(0, 2)));
        break;
      }
      case CallKind::kIncoming: {
        const Phone& callee = RandomPhone();
        leg.orig = GatewayParty(random_.Chance(0.05) ? "" : "0" + Digits(random_, 10), "");
        leg.dest = PhoneParty(callee);
        leg.original_called = callee.dn;
        leg.original_called_partition = callee.partition;
        break;
      }
    }

    switch (kind) {
      case CallKind::kBusy:
        ++totals_.unconnected;
        leg.disconnect = start + random_.Between(1, 4);
        leg.dest_cause = 17;
        leg.orig_termination = 12;
        leg.dest.ip = 0;
        break;
      case CallKind::kUnanswered:
        ++totals_.unconnected;
        leg.disconnect = start + random_.Between(8, 40);
        leg.orig_cause = 16;
        leg.orig_termination = 12;
        break;
      case CallKind::kFailed:
        ++totals_.unconnected;
        leg.disconnect = start + random_.Between(1, 6);
        leg.dest_cause = random_.Pick<int>(kFailCauses);
        leg.dest.ip = 0;
        if (!leg.client_matter_code.empty() && random_.Chance(0.3)) {
          leg.client_matter_code = "9999999999999999";  // an invalid code on a failed call
        }
        break;
      default: {
        leg.connect = start + ring;
        leg.disconnect = leg.connect + TalkSeconds();
        const bool caller_clears = random_.Chance(0.5);
        (caller_clears ? leg.orig_cause : leg.dest_cause) = 16;
        (caller_clears ? leg.orig_termination : leg.dest_termination) = 12;
        if (random_.Chance(0.001)) leg.comment = "callFlag=MALICIOUS";
        break;
      }
    }

    if (kind != CallKind::kTransfer) {
      Queue(leg, node, call_id);
      return;
    }

    // Transfer: A talks to B, consults C (or not: blind), then B and C talk on.
    ++totals_.transfers;
    const Phone* a = nullptr;
    for (const Phone& phone : phones_) {
      if (phone.dn == leg.orig.number) a = &phone;
    }
    const Phone& c = OtherPhone(*a);
    const std::int64_t transfer_at = leg.disconnect;
    leg.orig_cause = leg.dest_cause = 126;
    leg.orig_termination = leg.dest_termination = 10;
    leg.client_matter_code.clear();

    Leg consult;
    consult.orig = PhoneParty(*a);
    consult.dest = PhoneParty(c);
    consult.original_called = c.dn;
    consult.original_called_partition = c.partition;
    consult.origination = std::max(leg.connect, transfer_at - random_.Between(5, 40));
    if (random_.Chance(0.3)) {
      consult.connect = 0;  // blind transfer
    } else {
      consult.connect = std::min(consult.origination + random_.Between(2, 8), transfer_at);
    }
    consult.disconnect = transfer_at;
    consult.orig_cause = consult.dest_cause = 126;
    consult.orig_termination = consult.dest_termination = 10;

    Leg joined;
    joined.orig = leg.dest;
    joined.dest = consult.dest;
    joined.original_called = c.dn;
    joined.original_called_partition = c.partition;
    joined.origination = leg.origination;
    joined.connect = transfer_at;
    joined.disconnect = transfer_at + TalkSeconds();
    joined.dest_cause = 16;
    joined.join = 10;
    joined.codec = leg.codec;

    Queue(leg, node, call_id);
    Queue(consult, node, call_id);
    Queue(joined, node, call_id);
  }

  void Queue(const Leg& leg, int node, std::int64_t call_id) {
    const Columns& k = columns_;
    CdrRow row = template_row_;
    auto set = [&](int column, std::int64_t number) {
      row[static_cast<std::size_t>(column)].number = number;
    };
    auto text = [&](int column, std::string value) {
      row[static_cast<std::size_t>(column)].text = std::move(value);
    };
    const bool connected = leg.connect != 0;
    set(k.gcid_node, node);
    set(k.gcid_call, call_id);
    set(k.orig_leg, leg.orig.leg);
    set(k.origination, leg.origination);
    set(k.orig_node, leg.orig.node);
    set(k.orig_ip, leg.orig.ip);
    text(k.calling, leg.orig.number);
    set(k.orig_cause, leg.orig_cause);
    set(k.dest_leg, leg.dest.leg);
    set(k.dest_node, leg.dest.node);
    set(k.dest_ip, leg.dest.ip);
    if (leg.orig.partition.empty() && leg.orig.device.starts_with("S0/")) {
      set(k.orig_span, random_.Between(1, 23));
    }
    if (leg.dest.device.starts_with("S0/")) set(k.dest_span, random_.Between(1, 23));
    text(k.original_called, leg.original_called);
    text(k.final_called, leg.dest.number.empty() ? leg.original_called : leg.dest.number);
    set(k.dest_cause, leg.dest_cause);
    if (connected) {
      set(k.orig_media_ip, leg.orig.ip);
      set(k.orig_media_port, 16384 + 2 * random_.Between(0, 8191));
      set(k.orig_codec, leg.codec);
      set(k.orig_frames, 20);
      set(k.dest_media_ip, leg.dest.ip);
      set(k.dest_media_port, 16384 + 2 * random_.Between(0, 8191));
      set(k.dest_codec, leg.codec);
      set(k.dest_frames, 20);
    }
    set(k.connect, leg.connect);
    set(k.disconnect, leg.disconnect);
    set(k.duration, connected ? leg.disconnect - leg.connect : 0);
    text(k.last_redirect, leg.dest.number.empty() ? leg.original_called : leg.dest.number);
    text(k.pkid, Guid(random_));
    text(k.original_called_partition, leg.original_called_partition);
    text(k.calling_partition, leg.orig.partition);
    text(k.final_called_partition, leg.dest.partition);
    text(k.last_redirect_partition, leg.dest.partition);
    text(k.orig_device, leg.orig.device);
    text(k.dest_device, leg.dest.device);
    set(k.orig_termination, leg.orig_termination);
    set(k.dest_termination, leg.dest_termination);
    text(k.cluster, "StandAloneCluster");
    set(k.join, leg.join);
    text(k.comment, leg.comment);
    text(k.client_matter_code, leg.client_matter_code);
    // Extension Mobility is rare: the login columns are mostly empty, on some servers null.
    row[static_cast<std::size_t>(k.calling_login)].null = random_.Chance(0.3);
    row[static_cast<std::size_t>(k.final_login)].null = random_.Chance(0.3);

    pending_.push_back({leg.disconnect, sequence_++, std::move(row)});
    std::push_heap(pending_.begin(), pending_.end(), Later);
  }

  void Emit(std::int64_t up_to) {
    while (!pending_.empty() && pending_.front().disconnect <= up_to) {
      std::pop_heap(pending_.begin(), pending_.end(), Later);
      sink_(pending_.back().row);
      ++totals_.rows;
      pending_.pop_back();
    }
  }

  const CdrGeneratorOptions& options_;
  const std::function<void(const CdrRow&)>& sink_;
  Random random_;
  Columns columns_;
  CdrRow template_row_;
  std::vector<Phone> phones_;
  std::vector<Gateway> gateways_;
  std::array<std::int64_t, 2> call_ids_{1000, 5000};
  std::int64_t next_leg_ = 16777216 + 200;
  std::int64_t sequence_ = 0;
  std::vector<Pending> pending_;
  CdrGeneratorTotals totals_;
};

}  // namespace

std::int32_t CallManagerIp(int a, int b, int c, int d) {
  const std::uint32_t value =
      static_cast<std::uint32_t>(a & 255) | static_cast<std::uint32_t>(b & 255) << 8 |
      static_cast<std::uint32_t>(c & 255) << 16 | static_cast<std::uint32_t>(d & 255) << 24;
  return static_cast<std::int32_t>(value);
}

CdrGeneratorTotals GenerateCdrs(const CdrGeneratorOptions& options,
                                const std::function<void(const CdrRow&)>& sink) {
  Generator generator(options, sink);
  return generator.Run();
}

}  // namespace remoteccm
