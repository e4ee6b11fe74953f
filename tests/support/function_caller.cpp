#include "support/function_caller.h"

#include <cstring>

#include <gtest/gtest.h>

namespace Korvel::Testing {

FunctionResponse ReadResponse(HostFunctionResponse& record) {
    FunctionResponse response;
    HostValue value;
    std::memcpy(&value, &record.value, sizeof(value));
    response.value = ReadHostValue(value);
    response.valueKinds = ReadHostValueKinds(value);
    response.flag = record.flag;
    response.contentKind = record.contentKind;
    response.status = record.status;
    if (record.statusText != nullptr) {
        response.statusText = record.statusText;
    }
    for (uint32_t i = 0; i < record.headerCount; ++i) {
        response.headers.emplace_back(record.headers[i].name, record.headers[i].value);
    }
    if (record.bodyStream != nullptr) {
        response.hasBody = true;
        response.bodySize = record.bodySize;
        // Reads in 7-byte pieces to exercise the position handling.
        char buffer[7];
        while (true) {
            uint32_t length = sizeof(buffer);
            if (!record.read(record.bodyStream, record.bodyPosition, buffer, &length)) {
                break;
            }
            if (length == 0) {
                break;
            }
            response.body.append(buffer, length);
            record.bodyPosition += length;
        }
        record.releaseStream(record.bodyStream);
        record.bodyStream = nullptr;
    }
    if (record.release != nullptr) {
        record.release(&record);
        response.released = true;
    }
    return response;
}

FunctionResponse CallEntryPoint(HostFunctionEntryPoint entryPoint,
                                const HostFunctionRequest* request) {
    HostFunctionResponse record;
    std::memset(&record, 0, sizeof(record));
    entryPoint(&record, request);
    return ReadResponse(record);
}

FunctionResponse CallDeclaredFunction(const ApiFunctionEntry& entry,
                                      const FunctionRequest& request) {
    std::vector<HostHeaderEntry> headers;
    for (const auto& [name, value] : request.headers) {
        headers.push_back({name.c_str(), value.c_str()});
    }
    std::vector<HostArgument> arguments;
    for (const auto& [name, value] : request.arguments) {
        HostArgument argument;
        argument.name = name ? name->c_str() : nullptr;
        std::memcpy(&argument.value, &value, sizeof(value));
        arguments.push_back(argument);
    }
    HostFunctionRequest record;
    std::memset(&record, 0, sizeof(record));
    record.method = request.method;
    record.methodText = request.methodText ? request.methodText->c_str() : nullptr;
    record.path = request.path.c_str();
    record.headers = headers.empty() ? nullptr : headers.data();
    record.headerCount = static_cast<uint32_t>(headers.size());
    record.arguments = arguments.empty() ? nullptr : arguments.data();
    record.argumentCount = static_cast<uint32_t>(arguments.size());
    record.contentType = request.contentType ? request.contentType->c_str() : nullptr;
    if (request.body) {
        record.body = reinterpret_cast<const uint8_t*>(request.body->data());
        record.bodyLength = static_cast<uint32_t>(request.body->size());
    }
    record.token = request.token;
    record.userData = entry.userData;
    return CallEntryPoint(entry.entryPoint, &record);
}

FunctionResponse CallDeclaredFunction(const ApiDeclaration& declaration, const std::string& name,
                                      const FunctionRequest& request) {
    const ApiFunctionEntry* entry = FindDeclaredFunction(declaration, name);
    if (entry == nullptr) {
        ADD_FAILURE() << "no declared function " << name;
        return {};
    }
    return CallDeclaredFunction(*entry, request);
}

const ApiFunctionEntry* FindDeclaredFunction(const ApiDeclaration& declaration,
                                             const std::string& name) {
    for (uint32_t i = 0; i < declaration.functionCount; ++i) {
        if (name == declaration.functions[i].name) {
            return &declaration.functions[i];
        }
    }
    return nullptr;
}

} // namespace Korvel::Testing
