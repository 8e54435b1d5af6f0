// SPDX-License-Identifier: GPL-3.0-or-later
// The socket layer on the scripted console: opening, reading, sending, errors, closing.
#include <gtest/gtest.h>

#include "common/cp932.h"
#include "link/link_rig.h"

namespace kv::test {
namespace {

TEST(SocketLayer, OpenShowsEachStepAndConnectsToTheConsolePort) {
    LinkRig r;
    r.cx.link.SetConsolePort(2323);
    r.cx.settings.sohoip = "127.0.0.1";
    r.cx.link.OpenLink();
    EXPECT_EQ(r.transport.connectedTo, "127.0.0.1:2323");
    EXPECT_EQ(r.view.statusHistory, (std::vector<std::string>{"WSAStartup", "Socket:3", "Connect",
                                                              "WSAAsyncSelect", "Connection OK"}));
    EXPECT_TRUE(r.transport.readEvents());
    EXPECT_TRUE(r.cx.link.State().SocketOpen);
}

TEST(SocketLayer, RefusedConnectShowsTheErrorBoxAndEnds) {
    LinkRig r;
    r.transport.connectResult = 10061;
    EXPECT_THROW(r.cx.link.OpenLink(), ProgramEnded);
    ASSERT_EQ(r.view.boxes.size(), 1u);
    EXPECT_EQ(r.view.boxes[0].title, "WinsockErrorMessage");
    EXPECT_EQ(r.view.boxes[0].text,
              "Program is Sub Connect_Socket\n\rFunction is connect\n\rError Number is 10061\n\r"
              "WSAECONNREFUSED");
    EXPECT_TRUE(r.transport.closedByProgram());
    EXPECT_EQ(r.view.status(), "Socket:3");
}

TEST(SocketLayer, SocketThatCannotBeCreatedEnds) {
    LinkRig r;
    r.transport.createResult = -1;
    EXPECT_THROW(r.cx.link.OpenLink(), ProgramEnded);
    ASSERT_EQ(r.view.boxes.size(), 1u);
    EXPECT_NE(r.view.boxes[0].text.find("Program is Function CreateSocket\n\rFunction is socket"),
              std::string::npos);
    EXPECT_TRUE(r.transport.connectedTo.empty());
}

TEST(SocketLayer, ReadAppendsTextAndZeroFillers) {
    LinkRig r;
    r.Open();
    r.cx.link.StateForTest().PendingReceives = 1;
    r.transport.Deliver("0123456789");
    r.loop.Advance(5);
    EXPECT_EQ(r.cx.link.State().ReplyText, u"0123456789" + std::u16string(10, u'\0'));
    EXPECT_EQ(r.cx.link.State().PendingReceives, 0);
    EXPECT_EQ(r.transport.notifications, 1);
    EXPECT_TRUE(r.transport.readEvents());  // switched back on after the handler

    // A shorter second read of another notification: zeros again, never the earlier bytes.
    r.transport.Deliver("ab");
    r.loop.Advance(5);
    EXPECT_EQ(r.cx.link.State().ReplyText,
              u"0123456789" + std::u16string(10, u'\0') + u"ab" + std::u16string(2, u'\0'));
    EXPECT_EQ(r.cx.link.State().PendingReceives, -1);
    EXPECT_TRUE(r.view.boxes.empty());
}

TEST(SocketLayer, LongReadFillsTheWholeBufferAndTheRestWaitsForTheNextEvent) {
    LinkRig r;
    r.Open();
    r.transport.DeliverBytes(std::string(3000, 'x'));
    r.loop.Advance(5);
    EXPECT_EQ(r.cx.link.State().ReplyText,
              std::u16string(3000, u'x') + std::u16string(1096, u'\0'));

    r.cx.link.StateForTest().ReplyText.clear();
    r.transport.DeliverBytes(std::string(5000, 'y'));
    r.loop.Advance(5);
    // 4096 bytes in the first call, the last 904 in a second one.
    EXPECT_EQ(r.transport.notifications, 3);
    EXPECT_EQ(r.cx.link.State().ReplyText,
              std::u16string(4096, u'y') + std::u16string(904, u'y') + std::u16string(904, u'\0'));
}

TEST(SocketLayer, ShiftJisCharacterCutBetweenReadsIsNotSplit) {
    LinkRig r;
    r.Open();
    const std::string bytes = cp932::EncodeFromUtf8("a端末");  // a + two 2-byte characters
    ASSERT_EQ(bytes.size(), 5u);
    r.transport.DeliverBytes(bytes.substr(0, 2));  // 'a' and a lead byte
    r.loop.Advance(5);
    EXPECT_EQ(r.cx.link.State().ReplyText, std::u16string(u"a") + std::u16string(2, u'\0'));
    r.transport.DeliverBytes(bytes.substr(2));
    r.loop.Advance(5);
    EXPECT_EQ(r.cx.link.State().ReplyText,
              std::u16string(u"a") + std::u16string(2, u'\0') + u"端末" + std::u16string(3, u'\0'));
    EXPECT_TRUE(r.cx.link.State().CarryBytes.empty());
}

TEST(SocketLayer, NothingWaitingStillCountsTheReceiveWithoutABox) {
    LinkRig r;
    r.Open();
    r.cx.link.StateForTest().PendingReceives = 1;
    r.cx.link.Receive();
    EXPECT_EQ(r.cx.link.State().PendingReceives, 0);
    EXPECT_TRUE(r.cx.link.State().ReplyText.empty());
    EXPECT_TRUE(r.view.boxes.empty());
    EXPECT_EQ(r.cx.link.State().ActivityTag, "cl_rec");
}

TEST(SocketLayer, ReceiveErrorShowsTheReadTableTextAndStillCounts) {
    LinkRig r;
    r.Open();
    r.cx.link.SetMessageWindowOpen(true);
    r.cx.link.StateForTest().PendingReceives = 1;
    r.transport.failNextRecv = 10054;
    r.cx.link.Receive();
    ASSERT_EQ(r.view.boxes.size(), 1u);
    EXPECT_NE(r.view.boxes[0].text.find("Function is recv\n\rError Number is 10054\n\r"
                                        "WSAECONNRESET:リモートホストによって接続が再開された。"),
              std::string::npos);
    EXPECT_EQ(r.view.status(), "Receive Error");
    EXPECT_EQ(r.cx.link.State().PendingReceives, 0);
    ASSERT_FALSE(r.view.messageTexts.empty());
    EXPECT_EQ(r.view.messageTexts.back(), "0\r\n");
}

TEST(SocketLayer, RouterClosingTheConnectionShutsDownAndLaterSendsFail) {
    LinkRig r;
    r.Open();
    r.cx.link.StateForTest().PendingReceives = 1;
    r.transport.PeerClose(5);
    r.loop.Advance(10);
    EXPECT_EQ(r.cx.link.State().PendingReceives, 1);
    EXPECT_EQ(r.view.status(), "Server Shutdown");
    ASSERT_EQ(r.view.boxes.size(), 1u);
    EXPECT_EQ(r.view.boxes[0].text, "Server Shutdown");
    EXPECT_FALSE(r.cx.link.State().SocketOpen);

    r.cx.link.StateForTest().SendText = u"show status";
    r.cx.link.Sendbyte();
    ASSERT_EQ(r.view.boxes.size(), 2u);
    EXPECT_EQ(
        r.view.boxes[1].text,
        "Program is Port_Process\n\rFunction is Send\n\rError Number is 10038\n\rWSAENOTSOCK");
}

TEST(SocketLayer, SendPutsOutTheLineWithLineBreakInPieces) {
    LinkRig r;
    r.Open();
    r.transport.maxSend = 3;
    r.cx.link.StateForTest().SendText = u"show status";
    r.cx.link.Sendbyte();
    EXPECT_EQ(r.transport.sent, "show status\n\r");
    EXPECT_TRUE(r.view.boxes.empty());

    r.transport.failNextSend = 10035;
    r.cx.link.Sendbyte();
    ASSERT_EQ(r.view.boxes.size(), 1u);
    EXPECT_NE(r.view.boxes[0].text.find("Error Number is 10035\n\rWSAEWOULDBLOCK"),
              std::string::npos);
}

TEST(SocketLayer, ReplyReadDuringTheSendIsNotTakenForASendError) {
    LinkRig r;
    r.Open();
    r.transport.Answer("show status", kPrompt, 0);  // answered at once
    r.cx.link.StateForTest().SendText = u"show status";
    r.cx.link.Sendbyte();
    r.loop.PumpOnce();
    EXPECT_EQ(r.transport.notifications, 1);
    EXPECT_NE(r.cx.link.State().ReplyText.find(u"MN128-SOHO% "), std::u16string::npos);
    EXPECT_TRUE(r.view.boxes.empty());
}

TEST(SocketLayer, ErrorTexts) {
    EXPECT_EQ(WinsockErrorText("recv", 10035), "");
    EXPECT_EQ(WinsockErrorText("recvfrom", 10093),
              "WSANOTINITIALIZED:WSAStartup関数の呼び出しが成功していない。");
    EXPECT_EQ(WinsockErrorText("Recv", 10035), "WSAEWOULDBLOCK");  // case matters
    EXPECT_EQ(WinsockErrorText("recv", 10061), "");                // not in the read table
    EXPECT_EQ(WinsockErrorText("connect", 10093), "WSANOTINITIALISED");
    EXPECT_EQ(WinsockErrorText("connect", 10091), "WSASYSNOTREADY");
    EXPECT_EQ(WinsockErrorText("socket", 10000), "");
    // The name table has 46 codes.
    int named = 0;
    for (int code = 10000; code < 10100; ++code)
        if (!WinsockErrorText("Send", code).empty()) ++named;
    EXPECT_EQ(named, 46);
}

}  // namespace
}  // namespace kv::test
