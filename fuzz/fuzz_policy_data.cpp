// libFuzzer target for the policy data reader: any bytes as the content of a policy data file.
// Besides the sanitizers' findings, every result is checked against what the reader promises
// its callers; a broken promise stops the run like a crash.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "PolicyDataReader.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

bool Terminated(const char* text, size_t size) {
    return std::memchr(text, '\0', size) != nullptr;
}

void CheckNode(const pblib_node& node) {
    Require(Terminated(node.core_id, sizeof node.core_id));
    Require(node.addr_kind <= PBLIB_ADDR_OTHER);
    Require(node.address == 0 || node.addr_kind == PBLIB_ADDR_IP);
    if (node.name) {
        (void)std::strlen(node.name);
    }
}

void CheckRefs(const pblib_ref_list& refs, int kind) {
    Require(refs.count >= 0);
    Require((refs.count == 0) == (refs.items == nullptr));
    for (int32_t i = 0; i < refs.count; ++i) {
        const pblib_respmgr_ref& ref = *refs.items[i];
        Require(Terminated(ref.mgr_id, sizeof ref.mgr_id));
        Require(ref.list_kind == kind);
        Require(ref.description == nullptr);
        Require(ref.flag == 0);
        CheckNode(ref.node);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pblib_cfg_list list;
    pblib_error error;
    std::memset(&error, 0x5A, sizeof error);
    int result = pdc_read_memory(data, size, &list, &error);
    Require(result == PBLIB_RESPMGR_OK || result == PBLIB_RESPMGR_SYNTAX);
    if (result == PBLIB_RESPMGR_SYNTAX) {
        Require(Terminated(error.text, sizeof error.text));
        Require(error.line >= 1);
        Require(error.code >= PBLIB_ERR_FILE && error.code <= PBLIB_ERR_STATUS_VARIABLES &&
                error.code != 5 && error.code != 12);
    }
    Require(list.count >= 0);
    Require((list.count == 0) == (list.items == nullptr));
    for (int32_t i = 0; i < list.count; ++i) {
        const pblib_respmgr_cfg& cfg = *list.items[i];
        Require(Terminated(cfg.cfg_id, sizeof cfg.cfg_id));
        CheckNode(cfg.default_manager);
        CheckRefs(cfg.secondary, PBLIB_MGR_SECONDARY);
        CheckRefs(cfg.action_allowed, PBLIB_MGR_ACTION_ALLOWED);
        Require(cfg.reserved1.count == 0 && cfg.reserved1.items == nullptr);
        Require(cfg.reserved2.count == 0 && cfg.reserved2.items == nullptr);
    }
    pblib_respmgr_cfg_free(&list);
    Require(list.count == 0 && list.items == nullptr);
    return 0;
}
