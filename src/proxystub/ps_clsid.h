/* Class ID of the proxy/stub factory in ZqOpcHda_ps.dll: the OPC HDA and
   OPC Common interfaces it registers name it as their ProxyStubClsid32. */
#ifndef ZQ_PS_CLSID_H
#define ZQ_PS_CLSID_H

#define ZQ_OPC_PS_CLSID_INIT \
    {0x660fddac, 0x2774, 0x4075, {0xb6, 0xaa, 0x7f, 0xa0, 0x01, 0xc0, 0x69, 0xb7}}
#define ZQ_OPC_PS_CLSID_TEXT_W L"{660FDDAC-2774-4075-B6AA-7FA001C069B7}"

/* The same factory built from widl's uncorrected proxy code, loaded only by
   the cross-process tests to show what the correction changes. */
#define ZQ_OPC_PS_UNFIXED_CLSID_INIT \
    {0xee3e634e, 0x7ac2, 0x4126, {0xaf, 0xdb, 0x55, 0x98, 0xbb, 0x11, 0xe6, 0xd1}}

#endif
