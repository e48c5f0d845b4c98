#pragma once

#include <exception>
#include <string>

namespace linkferry {

// A failure to open or read a browser database. Its text is the whole message: "missing <path>",
// "<path>: <SQLite's message>", or SQLite's own message for a failed statement.
class SQLiteError : public std::exception {
 public:
  explicit SQLiteError(std::string description) : m_description(std::move(description)) {}

  const std::string& description() const { return m_description; }
  const char* what() const noexcept override { return m_description.c_str(); }

  bool operator==(const SQLiteError& other) const { return m_description == other.m_description; }

 private:
  std::string m_description;
};

}  // namespace linkferry
