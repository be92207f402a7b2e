#pragma once
// The error classes of the library. Every failure of the system is one of these, thrown with a
// fixed message; nothing inside the library catches them.

#include <exception>
#include <string>

namespace vorada {

/// Base of every error: holds one message, returned unchanged by what().
class BacktracedVoradaException : public std::exception {
  public:
    explicit BacktracedVoradaException(std::string message) : message_text(std::move(message)) {}
    ~BacktracedVoradaException() override = default;
    const char* what() const noexcept override { return message_text.c_str(); }

  private:
    std::string message_text;
};

/// A general failure; the message is kept as given.
class VoradaError : public BacktracedVoradaException {
  public:
    explicit VoradaError(const std::string& message) : BacktracedVoradaException(message) {}
};

/// A failure tied to a file: "Error in file '<file>': <reason>".
class VoradaFileError : public BacktracedVoradaException {
  public:
    VoradaFileError(const std::string& file, const std::string& reason)
        : BacktracedVoradaException("Error in file '" + file + "': " + reason) {}
};

/// A file that does not exist or cannot be opened: "File <file> not found".
class VoradaFileNotFound : public BacktracedVoradaException {
  public:
    explicit VoradaFileNotFound(const std::string& file)
        : BacktracedVoradaException("File " + file + " not found") {}
};

/// An operation the library deliberately does not provide: "NOT IMPLEMENTED : <text>".
class VoradaNotImplemented : public BacktracedVoradaException {
  public:
    explicit VoradaNotImplemented(const std::string& text)
        : BacktracedVoradaException("NOT IMPLEMENTED : " + text) {}
};

}  // namespace vorada
