// Serial link: the one serial port of a run.
//
// How a run uses it: OpenPort once with the port number and the stored baud
// rate; ConnectTarget (connect.h) pulses RTS, waits for CTS and finds the
// rate; then every command exchange is Transmit / ReceiveWait byte by byte
// (TransmitBlock / ReceiveBlock for the flash loader's fast mode). Once the
// port is open, every end of the process goes through ExitTool, which puts
// the handshake and RTS back to rest first.
//
// Failures print the routine's message on standard output and end the
// process with exit code 2, either directly or through ExitTool (the table
// in port.cpp). A time-out of a single read is not a failure for
// ReceiveBlock (the place keeps its content); for ReceiveWait it is: the
// target did not answer, so the run ends through ExitTool with 2.
//
// Port numbers 1 to 4 name COM1..COM4; any other number is COM1. COMn opens
// the device or rfc2217:// URL in the environment variable VK_COMn when it is
// set, else the platform's default device (port_names.h).
#pragma once

#include <cstdint>

namespace vk::link {

constexpr int kReadTimeoutMs = 2000;
constexpr int kWriteTimeoutMs = 100;
constexpr int kQueueSize = 4096;
constexpr int kExitFailure = 2;

void OpenPort(int port, int baud);
void SetBaudRate(int baud);
void EnableAuto_RTS_CTS(int on);
void SetRtsSignal(int level);
int CTSSignalSet();
void Transmit(int byte);
// Transmit of each byte in turn, handed to the port in one write: the same
// bytes on the line without a system call per byte. A failure is reported
// as Transmit's.
void TransmitBytes(const uint8_t* data, int length);
void TransmitBlock(const uint8_t* data, int length);
char ReceiveWait();
void ReceiveBlock(uint8_t* buffer, int length);
int RxPending();
void SleepMs(int ms);
[[noreturn]] void ExitTool(int code);

}  // namespace vk::link
