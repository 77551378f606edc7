#include "platform/db/cdr_schema.h"

#include <array>

namespace remoteccm {
namespace {

// Column order and widths of CallManager 4.2(3); text widths of SQL Server varchar columns.
constexpr std::array<CdrColumn, 68> kColumns = {{
    {"cdrRecordType", CdrColumnKind::kInteger, 0, "1"},
    {"globalCallID_callManagerId", CdrColumnKind::kInteger, 0, "0"},
    {"globalCallID_callId", CdrColumnKind::kInteger, 0, "0"},
    {"origLegCallIdentifier", CdrColumnKind::kInteger, 0, "0"},
    {"dateTimeOrigination", CdrColumnKind::kInteger, 0, "0"},
    {"origNodeId", CdrColumnKind::kInteger, 0, "0"},
    {"origSpan", CdrColumnKind::kInteger, 0, "0"},
    {"origIpAddr", CdrColumnKind::kInteger, 0, "0"},
    {"callingPartyNumber", CdrColumnKind::kText, 50, "'"},
    {"origCause_location", CdrColumnKind::kInteger, 0, "0"},
    {"origCause_value", CdrColumnKind::kInteger, 0, "0"},
    {"origPrecedenceLevel", CdrColumnKind::kInteger, 0, "4"},
    {"origMediaTransportAddress_IP", CdrColumnKind::kInteger, 0, "0"},
    {"origMediaTransportAddress_Port", CdrColumnKind::kInteger, 0, "0"},
    {"origMediaCap_payloadCapability", CdrColumnKind::kInteger, 0, "0"},
    {"origMediaCap_maxFramesPerPacket", CdrColumnKind::kInteger, 0, "0"},
    {"origMediaCap_g723BitRate", CdrColumnKind::kInteger, 0, "0"},
    {"origVideoCap_Codec", CdrColumnKind::kInteger, 0, "0"},
    {"origVideoCap_Bandwidth", CdrColumnKind::kInteger, 0, "0"},
    {"origVideoCap_Resolution", CdrColumnKind::kInteger, 0, "0"},
    {"origVideoTransportAddress_IP", CdrColumnKind::kInteger, 0, "0"},
    {"origVideoTransportAddress_Port", CdrColumnKind::kInteger, 0, "0"},
    {"destLegIdentifier", CdrColumnKind::kInteger, 0, "0"},
    {"destNodeId", CdrColumnKind::kInteger, 0, "0"},
    {"destSpan", CdrColumnKind::kInteger, 0, "0"},
    {"destIpAddr", CdrColumnKind::kInteger, 0, "0"},
    {"originalCalledPartyNumber", CdrColumnKind::kText, 50, "'"},
    {"finalCalledPartyNumber", CdrColumnKind::kText, 50, "'"},
    {"destCause_location", CdrColumnKind::kInteger, 0, "0"},
    {"destCause_value", CdrColumnKind::kInteger, 0, "0"},
    {"destPrecedenceLevel", CdrColumnKind::kInteger, 0, "4"},
    {"destMediaTransportAddress_IP", CdrColumnKind::kInteger, 0, "0"},
    {"destMediaTransportAddress_Port", CdrColumnKind::kInteger, 0, "0"},
    {"destMediaCap_payloadCapability", CdrColumnKind::kInteger, 0, "0"},
    {"destMediaCap_maxFramesPerPacket", CdrColumnKind::kInteger, 0, "0"},
    {"destMediaCap_g723BitRate", CdrColumnKind::kInteger, 0, "0"},
    {"destVideoCap_Codec", CdrColumnKind::kInteger, 0, "0"},
    {"destVideoCap_Bandwidth", CdrColumnKind::kInteger, 0, "0"},
    {"destVideoCap_Resolution", CdrColumnKind::kInteger, 0, "0"},
    {"destVideoTransportAddress_IP", CdrColumnKind::kInteger, 0, "0"},
    {"destVideoTransportAddress_Port", CdrColumnKind::kInteger, 0, "0"},
    {"dateTimeConnect", CdrColumnKind::kInteger, 0, "0"},
    {"dateTimeDisconnect", CdrColumnKind::kInteger, 0, "0"},
    {"lastRedirectDn", CdrColumnKind::kText, 50, "'"},
    {"pkid", CdrColumnKind::kText, 36, ""},
    {"originalCalledPartyNumberPartition", CdrColumnKind::kText, 50, "'"},
    {"callingPartyNumberPartition", CdrColumnKind::kText, 50, "'"},
    {"finalCalledPartyNumberPartition", CdrColumnKind::kText, 50, "'"},
    {"lastRedirectDnPartition", CdrColumnKind::kText, 50, "'"},
    {"duration", CdrColumnKind::kInteger, 0, "0"},
    {"origDeviceName", CdrColumnKind::kText, 129, "'"},
    {"destDeviceName", CdrColumnKind::kText, 129, "'"},
    {"origCallTerminationOnBehalfOf", CdrColumnKind::kInteger, 0, "0"},
    {"destCallTerminationOnBehalfOf", CdrColumnKind::kInteger, 0, "0"},
    {"origCalledPartyRedirectOnBehalfOf", CdrColumnKind::kInteger, 0, "0"},
    {"lastRedirectRedirectOnBehalfOf", CdrColumnKind::kInteger, 0, "0"},
    {"origCalledPartyRedirectReason", CdrColumnKind::kInteger, 0, "0"},
    {"lastRedirectRedirectReason", CdrColumnKind::kInteger, 0, "0"},
    {"destConversationId", CdrColumnKind::kInteger, 0, "0"},
    {"globalCallId_ClusterId", CdrColumnKind::kText, 50, "'"},
    {"joinOnBehalfOf", CdrColumnKind::kInteger, 0, "0"},
    {"comment", CdrColumnKind::kText, 2048, "'"},
    {"callingPartyLoginUserID", CdrColumnKind::kText, 128, "'"},
    {"finalCalledPartyLoginUserID", CdrColumnKind::kText, 128, "'"},
    {"authCodeDescription", CdrColumnKind::kText, 50, "'"},
    {"authorizationLevel", CdrColumnKind::kInteger, 0, "0"},
    {"clientMatterCode", CdrColumnKind::kText, 32, "'"},
    {"origConversationId", CdrColumnKind::kInteger, 0, "0"},
}};

}  // namespace

std::span<const CdrColumn> CdrColumns() { return kColumns; }

int CdrColumnIndex(std::string_view name) {
  for (std::size_t i = 0; i < kColumns.size(); ++i) {
    if (kColumns[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

std::string CdrCreateTableStatement(std::string_view table) {
  std::string create = "CREATE TABLE " + std::string(table) + " (\n";
  for (std::size_t i = 0; i < kColumns.size(); ++i) {
    const CdrColumn& column = kColumns[i];
    create += "  " + std::string(column.name) + " ";
    if (column.kind == CdrColumnKind::kInteger) {
      create += "INTEGER DEFAULT " + std::string(column.default_value);
    } else if (column.name == "pkid") {
      create += "VARCHAR(" + std::to_string(column.length) + ") NOT NULL PRIMARY KEY";
    } else {
      create += "VARCHAR(" + std::to_string(column.length) + ") DEFAULT ''";
    }
    create += i + 1 < kColumns.size() ? ",\n" : "\n";
  }
  create += ")";
  return create;
}

std::vector<std::string> CdrCreateIndexStatements(std::string_view table) {
  const std::string name(table);
  return {"CREATE INDEX ix_" + name + "_dtdisconnect ON " + name + " (dateTimeDisconnect)",
          "CREATE INDEX ix_" + name + "_dtorigination ON " + name + " (dateTimeOrigination)"};
}

}  // namespace remoteccm
