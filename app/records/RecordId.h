#pragma once
// The name of a record: the UUID that --report writes in its record_id key
// (random, version 4), or for a line written without one, a UUID of version
// 5 (RFC 4122: SHA-1, name-based) made from the line's exact bytes, without
// its line end, in the namespace of Vantoir's records, kRecordIdNamespace.
// The same line thus has the same name wherever it is read: in its file, in
// a copy of the file, in the database it was forwarded to.
//
// UUIDs are given as 36 lower-case characters, 8-4-4-4-12 hex digits.

#include <cstddef>
#include <string>

// The namespace of every name made from a record's bytes.
inline constexpr const char* kRecordIdNamespace = "a180b0c1-15c2-487e-8d3f-6dad13b08890";

// Whether text is a UUID: 8-4-4-4-12 hex digits of either case.
bool IsUuid(const std::string& text);
// text, a UUID, with its hex digits in lower case.
std::string LowerCaseUuid(std::string text);

// The UUID of version 5 of name (length bytes) in the namespace given (a
// UUID); the empty text when the system's SHA-1 fails.
std::string NameBasedUuid(const std::string& nameSpace, const void* name, size_t length);

// The name of a record line that has no record_id: its bytes' UUID in
// kRecordIdNamespace.
std::string RecordIdOfBytes(const std::string& bytes);
