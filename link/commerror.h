#pragma once

#include <exception>

// Failure numbers of the classic serial control, shown to the operator after "PORT Hatası ".
namespace commerror {
inline constexpr int InvalidSettings = 380;
inline constexpr int PortNotFound = 8002;
inline constexpr int PortInUse = 8005;
inline constexpr int AccessDenied = 8010;
inline constexpr int SettingsRefused = 8015;
inline constexpr int PortNotOpen = 8018;
} // namespace commerror

class CommError : public std::exception
{
public:
    explicit CommError(int number) : m_number(number) {}
    int number() const { return m_number; }
    const char *what() const noexcept override { return "serial port failure"; }

private:
    int m_number;
};
