#pragma once

// The document the MessagePack and YAML benchmarks read: a synthetic service-status document
// ({"status", "messages": [{id, created_at, updated_at, severity, heading, content,
// "translations": [{locale, heading, content}]}]}), written once as MessagePack bytes and once as
// block-style YAML text from the same generated content.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "binding/binding_property.h"

namespace Korvel::Bench {

inline constexpr int kBenchMessages = 5000;

struct BenchMessage {
    unsigned id;
    std::string createdAt;
    std::string updatedAt;
    const char* severity;
    std::string heading;
    std::string content;
    struct Translation {
        const char* locale;
        std::string heading;
        std::string content;
    };
    std::vector<Translation> translations;
};

inline std::vector<BenchMessage> MakeBenchMessages(int count) {
    static const char* const kSeverities[] = {"info", "warn", "error"};
    static const char* const kLocales[] = {"de_DE", "fr_FR", "es_ES", "pl_PL"};
    static const std::string kTranslated[] = {"Gestört ", "Perturbé ", "Afectado ", "Zakłócone "};
    static const char* const kTopics[] = {"Login queue", "Store purchases", "Match making",
                                          "Chat service", "Friend list"};
    std::vector<BenchMessage> messages;
    messages.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        BenchMessage message;
        message.id = static_cast<unsigned>(1000 + i);
        const std::string day = std::to_string(10 + i % 18);
        const std::string minute = std::to_string(10 + i % 50);
        message.createdAt = "2024-03-" + day + "T08:" + minute + ":00Z";
        message.updatedAt = "2024-03-" + day + "T09:" + minute + ":30Z";
        message.severity = kSeverities[i % 3];
        const std::string topic = kTopics[i % 5];
        message.heading = topic;
        message.content = topic + " slow in region " + std::to_string(i % 12);
        for (int t = 0; t < (i % 10 == 0 ? 2 : 1); ++t) {
            message.translations.push_back({kLocales[(i + t) % 4], kTranslated[(i + t) % 4] + topic,
                                            "Hinweis " + std::to_string(i)});
        }
        messages.push_back(std::move(message));
    }
    return messages;
}

class MsgPackWriter {
public:
    void Map(std::size_t pairs) { Header(pairs, 0x80, 0xDE); }
    void Array(std::size_t count) { Header(count, 0x90, 0xDC); }
    void Text(const std::string& text) {
        if (text.size() < 32) {
            bytes.push_back(static_cast<std::uint8_t>(0xA0 | text.size()));
        } else if (text.size() < 256) {
            bytes.push_back(0xD9);
            bytes.push_back(static_cast<std::uint8_t>(text.size()));
        } else {
            bytes.push_back(0xDA);
            Big(text.size(), 2);
        }
        bytes.insert(bytes.end(), text.begin(), text.end());
    }
    void Unsigned(std::uint64_t value) {
        if (value < 128) {
            bytes.push_back(static_cast<std::uint8_t>(value));
        } else if (value < 65536) {
            bytes.push_back(0xCD);
            Big(value, 2);
        } else {
            bytes.push_back(0xCE);
            Big(value, 4);
        }
    }

    std::vector<std::uint8_t> bytes;

private:
    void Header(std::size_t count, std::uint8_t fix, std::uint8_t sixteen) {
        if (count < 16) {
            bytes.push_back(static_cast<std::uint8_t>(fix | count));
        } else if (count < 65536) {
            bytes.push_back(sixteen);
            Big(count, 2);
        } else {
            bytes.push_back(static_cast<std::uint8_t>(sixteen + 1));
            Big(count, 4);
        }
    }
    void Big(std::uint64_t value, int width) {
        for (int shift = (width - 1) * 8; shift >= 0; shift -= 8) {
            bytes.push_back(static_cast<std::uint8_t>(value >> shift));
        }
    }
};

inline std::vector<std::uint8_t> StatusDocumentMsgPack(const std::vector<BenchMessage>& messages) {
    MsgPackWriter out;
    out.Map(2);
    out.Text("status");
    out.Text("degraded");
    out.Text("messages");
    out.Array(messages.size());
    for (const BenchMessage& message : messages) {
        out.Map(7);
        out.Text("id");
        out.Unsigned(message.id);
        out.Text("created_at");
        out.Text(message.createdAt);
        out.Text("updated_at");
        out.Text(message.updatedAt);
        out.Text("severity");
        out.Text(message.severity);
        out.Text("heading");
        out.Text(message.heading);
        out.Text("content");
        out.Text(message.content);
        out.Text("translations");
        out.Array(message.translations.size());
        for (const auto& translation : message.translations) {
            out.Map(3);
            out.Text("locale");
            out.Text(translation.locale);
            out.Text("heading");
            out.Text(translation.heading);
            out.Text("content");
            out.Text(translation.content);
        }
    }
    return std::move(out.bytes);
}

inline std::string StatusDocumentYaml(const std::vector<BenchMessage>& messages) {
    std::string text = "status: degraded\nmessages:\n";
    for (const BenchMessage& message : messages) {
        text += "  - id: " + std::to_string(message.id) + "\n";
        text += "    created_at: " + message.createdAt + "\n";
        text += "    updated_at: " + message.updatedAt + "\n";
        text += std::string("    severity: ") + message.severity + "\n";
        text += "    heading: " + message.heading + "\n";
        text += "    content: " + message.content + "\n";
        text += "    translations:\n";
        for (const auto& translation : message.translations) {
            text += std::string("      - locale: ") + translation.locale + "\n";
            text += "        heading: " + translation.heading + "\n";
            text += "        content: " + translation.content + "\n";
        }
    }
    return text;
}

// The same document built directly as a value tree: the cost of building and destroying the
// tree that any decoder into BindingProperty pays, whatever its parsing costs.
inline void BuildStatusTree(const std::vector<BenchMessage>& messages, BindingProperty& root) {
    root.Member("status") = "degraded";
    BindingProperty& list = root.Member("messages");
    list.MakeCollection();
    list.Reserve(messages.size());
    for (const BenchMessage& message : messages) {
        BindingProperty& item = list.Append();
        item.Member("id") = message.id;
        item.Member("created_at") = message.createdAt;
        item.Member("updated_at") = message.updatedAt;
        item.Member("severity") = message.severity;
        item.Member("heading") = message.heading;
        item.Member("content") = message.content;
        BindingProperty& translations = item.Member("translations");
        translations.MakeCollection();
        for (const auto& translation : message.translations) {
            BindingProperty& entry = translations.Append();
            entry.Member("locale") = translation.locale;
            entry.Member("heading") = translation.heading;
            entry.Member("content") = translation.content;
        }
    }
}

} // namespace Korvel::Bench
