#pragma once
// The router console link: socket layer, command exchange, login, line commands, status poll.
#include <cstdint>
#include <string>

#include "app/context.h"

namespace kv {

// ---- socket layer ---------------------------------------------------------------------------
void OpenLink(Context& cx);
void StartIt(Context& cx);
void CreateSocket(Context& cx);
void ConnectSocket(Context& cx);
void Sendbyte(Context& cx);
void Receive(Context& cx);
void PortI_KeyDown(Context& cx);  // the read/close notification handler
void ServerShutdown(Context& cx);
void Client_close(Context& cx);
bool WinsockErrorMessage(Context& cx, const std::string& procedure, const std::string& function);
std::string WinsockErrorText(const std::string& function, int code);
// WinsockErrorMessage with the code of a particular call, taken before any pump could run
// another socket call in between.
bool ShowSocketError(Context& cx, const std::string& procedure, const std::string& function,
                     int code);

// ---- command exchange -----------------------------------------------------------------------
bool WaitReply(Context& cx, const std::u16string& awaited);
// Case-insensitive searches; positions count from 1; 0 when a marker is missing.
int16_t ExtractField(int16_t start, const std::u16string& text, const std::u16string& anchor,
                     const std::u16string& open, const std::u16string& close, std::u16string& out);
int32_t NowSeconds(Context& cx);
void WaitTenths(Context& cx, int16_t n);
void ShowMessage(Context& cx, const std::string& text);
[[noreturn]] void EndProgram(Context& cx, int16_t mode, const std::string& message);

// ---- login and line commands ----------------------------------------------------------------
void LoginSOHO(Context& cx);
void Connect(Context& cx, int16_t number);
void DisConnect(Context& cx, int16_t channel);
void SwitchRemoteAuto(Context& cx);

// ---- status poll ----------------------------------------------------------------------------
void GetNow(Context& cx);
void ParseChannelStatus(Context& cx, int16_t channel);
void UpdateAutoCutState(Context& cx, int16_t channel);
void ShowChannelStatus(Context& cx, int16_t channel);

}  // namespace kv
