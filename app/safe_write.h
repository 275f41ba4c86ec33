#pragma once
#include <cstddef>
#include <functional>
#include <string>

// Temporary name beside `path` with the same extension (so that writers that
// pick a format by extension still do); see app/temporary_files.h.
std::string TemporaryPathFor(const std::string& path);

// Writes `bytes` to `path` so that a reader sees either the old file or the
// complete new one: the bytes go to a temporary file beside it with every
// write checked, the file is flushed to the disk (fsync), renamed over
// `path`, and the folder is flushed. On any failure the temporary file is
// removed, `path` is left as it was, and std::runtime_error names `path` and
// the system's reason ("No space left on device").
void WriteBytesSafely(const std::string& path, const void* bytes, size_t size);
void WriteBytesSafely(const std::string& path, const std::string& bytes);

// For writers that can only write to a file name: runs write(tmp), then the
// same flush, rename and folder flush as above. The writer must report its
// own failures by throwing.
void WriteFileSafely(const std::string& path, const std::function<void(const std::string& tmp)>& write);

// True when both paths name the same existing file (by any name: links,
// "..", hard links) or the same path.
bool SameFile(const std::string& a, const std::string& b);

// Test hook: when set, the write of the Nth byte block (counting from 0)
// fails with the given errno, as a full disk would.
void InjectWriteFailureForTesting(int block, int error);
