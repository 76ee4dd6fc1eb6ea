#include <algorithm>
#include <unordered_map>

#include "formats.h"

namespace lopper {

bool IsWritableName(const std::string& name) {
  return name.find_first_of("\t\n\r") == std::string::npos;
}

std::size_t FirstUnwritableName(const std::vector<std::string>& names) {
  const auto bad = std::find_if_not(names.begin(), names.end(), IsWritableName);
  return static_cast<std::size_t>(bad - names.begin());
}

std::vector<int> NumberClustersByFirstElement(const std::vector<int>& clusterid) {
  std::unordered_map<int, int> number_of;
  std::vector<int> numbered;
  numbered.reserve(clusterid.size());
  for (const int id : clusterid) {
    const int next = static_cast<int>(number_of.size()) + 1;
    numbered.push_back(number_of.emplace(id, next).first->second);
  }
  return numbered;
}

bool WriteClustersTsv(std::ostream& out, const std::vector<std::string>& names,
                      const std::vector<ClusterColumn>& columns, const std::string& name_header) {
  if (FirstUnwritableName(names) != names.size()) return false;
  std::vector<std::vector<int>> numbers;
  for (const ClusterColumn& column : columns) {
    if (column.clusterid.size() != names.size() || !IsWritableName(column.label)) return false;
    numbers.push_back(column.renumber ? NumberClustersByFirstElement(column.clusterid)
                                      : column.clusterid);
  }
  // A label the table cannot hold falls back, as an empty one does.
  out << (name_header.empty() || !IsWritableName(name_header) ? "name" : name_header);
  for (const ClusterColumn& column : columns) out << '\t' << column.label;
  out << '\n';
  for (std::size_t e = 0; e < names.size(); e++) {
    out << names[e];
    for (const std::vector<int>& column : numbers) out << '\t' << column[e];
    out << '\n';
  }
  return true;
}

bool WriteTsv(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
  for (const auto& row : rows)
    if (FirstUnwritableName(row) != row.size()) return false;
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); i++) out << (i ? "\t" : "") << row[i];
    out << '\n';
  }
  return true;
}

}  // namespace lopper
