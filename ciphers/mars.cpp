#include "ciphers/mars.h"

#include <cstring>

#include "ciphers/vector_lanes.h"

namespace kryvane {
namespace {

// S0 is entries 0..255, S1 entries 256..511; the key schedule indexes all 512 entries and takes
// its seed words from entries 0..6 and the fix-up words B from entries 265..268.
// clang-format off
constexpr uint32_t kS[512] = {
    0x09D0C479, 0x28C8FFE0, 0x84AA6C39, 0x9DAD7287, 0x7DFF9BE3, 0xD4268361,
    0xC96DA1D4, 0x7974CC93, 0x85D0582E, 0x2A4B5705, 0x1CA16A62, 0xC3BD279D,
    0x0F1F25E5, 0x5160372F, 0xC695C1FB, 0x4D7FF1E4, 0xAE5F6BF4, 0x0D72EE46,
    0xFF23DE8A, 0xB1CF8E83, 0xF14902E2, 0x3E981E42, 0x8BF53EB6, 0x7F4BF8AC,
    0x83631F83, 0x25970205, 0x76AFE784, 0x3A7931D4, 0x4F846450, 0x5C64C3F6,
    0x210A5F18, 0xC6986A26, 0x28F4E826, 0x3A60A81C, 0xD340A664, 0x7EA820C4,
    0x526687C5, 0x7EDDD12B, 0x32A11D1D, 0x9C9EF086, 0x80F6E831, 0xAB6F04AD,
    0x56FB9B53, 0x8B2E095C, 0xB68556AE, 0xD2250B0D, 0x294A7721, 0xE21FB253,
    0xAE136749, 0xE82AAE86, 0x93365104, 0x99404A66, 0x78A784DC, 0xB69BA84B,
    0x04046793, 0x23DB5C1E, 0x46CAE1D6, 0x2FE28134, 0x5A223942, 0x1863CD5B,
    0xC190C6E3, 0x07DFB846, 0x6EB88816, 0x2D0DCC4A, 0xA4CCAE59, 0x3798670D,
    0xCBFA9493, 0x4F481D45, 0xEAFC8CA8, 0xDB1129D6, 0xB0449E20, 0x0F5407FB,
    0x6167D9A8, 0xD1F45763, 0x4DAA96C3, 0x3BEC5958, 0xABABA014, 0xB6CCD201,
    0x38D6279F, 0x02682215, 0x8F376CD5, 0x092C237E, 0xBFC56593, 0x32889D2C,
    0x854B3E95, 0x05BB9B43, 0x7DCD5DCD, 0xA02E926C, 0xFAE527E5, 0x36A1C330,
    0x3412E1AE, 0xF257F462, 0x3C4F1D71, 0x30A2E809, 0x68E5F551, 0x9C61BA44,
    0x5DED0AB8, 0x75CE09C8, 0x9654F93E, 0x698C0CCA, 0x243CB3E4, 0x2B062B97,
    0x0F3B8D9E, 0x00E050DF, 0xFC5D6166, 0xE35F9288, 0xC079550D, 0x0591AEE8,
    0x8E531E74, 0x75FE3578, 0x2F6D829A, 0xF60B21AE, 0x95E8EB8D, 0x6699486B,
    0x901D7D9B, 0xFD6D6E31, 0x1090ACEF, 0xE0670DD8, 0xDAB2E692, 0xCD6D4365,
    0xE5393514, 0x3AF345F0, 0x6241FC4D, 0x460DA3A3, 0x7BCF3729, 0x8BF1D1E0,
    0x14AAC070, 0x1587ED55, 0x3AFD7D3E, 0xD2F29E01, 0x29A9D1F6, 0xEFB10C53,
    0xCF3B870F, 0xB414935C, 0x664465ED, 0x024ACAC7, 0x59A744C1, 0x1D2936A7,
    0xDC580AA6, 0xCF574CA8, 0x040A7A10, 0x6CD81807, 0x8A98BE4C, 0xACCEA063,
    0xC33E92B5, 0xD1E0E03D, 0xB322517E, 0x2092BD13, 0x386B2C4A, 0x52E8DD58,
    0x58656DFB, 0x50820371, 0x41811896, 0xE337EF7E, 0xD39FB119, 0xC97F0DF6,
    0x68FEA01B, 0xA150A6E5, 0x55258962, 0xEB6FF41B, 0xD7C9CD7A, 0xA619CD9E,
    0xBCF09576, 0x2672C073, 0xF003FB3C, 0x4AB7A50B, 0x1484126A, 0x487BA9B1,
    0xA64FC9C6, 0xF6957D49, 0x38B06A75, 0xDD805FCD, 0x63D094CF, 0xF51C999E,
    0x1AA4D343, 0xB8495294, 0xCE9F8E99, 0xBFFCD770, 0xC7C275CC, 0x378453A7,
    0x7B21BE33, 0x397F41BD, 0x4E94D131, 0x92CC1F98, 0x5915EA51, 0x99F861B7,
    0xC9980A88, 0x1D74FD5F, 0xB0A495F8, 0x614DEED0, 0xB5778EEA, 0x5941792D,
    0xFA90C1F8, 0x33F824B4, 0xC4965372, 0x3FF6D550, 0x4CA5FEC0, 0x8630E964,
    0x5B3FBBD6, 0x7DA26A48, 0xB203231A, 0x04297514, 0x2D639306, 0x2EB13149,
    0x16A45272, 0x532459A0, 0x8E5F4872, 0xF966C7D9, 0x07128DC0, 0x0D44DB62,
    0xAFC8D52D, 0x06316131, 0xD838E7CE, 0x1BC41D00, 0x3A2E8C0F, 0xEA83837E,
    0xB984737D, 0x13BA4891, 0xC4F8B949, 0xA6D6ACB3, 0xA215CDCE, 0x8359838B,
    0x6BD1AA31, 0xF579DD52, 0x21B93F93, 0xF5176781, 0x187DFDDE, 0xE94AEB76,
    0x2B38FD54, 0x431DE1DA, 0xAB394825, 0x9AD3048F, 0xDFEA32AA, 0x659473E3,
    0x623F7863, 0xF3346C59, 0xAB3AB685, 0x3346A90B, 0x6B56443E, 0xC6DE01F8,
    0x8D421FC0, 0x9B0ED10C, 0x88F1A1E9, 0x54C1F029, 0x7DEAD57B, 0x8D7BA426,
    0x4CF5178A, 0x551A7CCA, 0x1A9A5F08, 0xFCD651B9, 0x25605182, 0xE11FC6C3,
    0xB6FD9676, 0x337B3027, 0xB7C8EB14, 0x9E5FD030, 0x6B57E354, 0xAD913CF7,
    0x7E16688D, 0x58872A69, 0x2C2FC7DF, 0xE389CCC6, 0x30738DF1, 0x0824A734,
    0xE1797A8B, 0xA4A8D57B, 0x5B5D193B, 0xC8A8309B, 0x73F9A978, 0x73398D32,
    0x0F59573E, 0xE9DF2B03, 0xE8A5B6C8, 0x848D0704, 0x98DF93C2, 0x720A1DC3,
    0x684F259A, 0x943BA848, 0xA6370152, 0x863B5EA3, 0xD17B978B, 0x6D9B58EF,
    0x0A700DD4, 0xA73D36BF, 0x8E6A0829, 0x8695BC14, 0xE35B3447, 0x933AC568,
    0x8894B022, 0x2F511C27, 0xDDFBCC3C, 0x006662B6, 0x117C83FE, 0x4E12B414,
    0xC2BCA766, 0x3A2FEC10, 0xF4562420, 0x55792E2A, 0x46F5D857, 0xCEDA25CE,
    0xC3601D3B, 0x6C00AB46, 0xEFAC9C28, 0xB3C35047, 0x611DFEE3, 0x257C3207,
    0xFDD58482, 0x3B14D84F, 0x23BECB64, 0xA075F3A3, 0x088F8EAD, 0x07ADF158,
    0x7796943C, 0xFACABF3D, 0xC09730CD, 0xF7679969, 0xDA44E9ED, 0x2C854C12,
    0x35935FA3, 0x2F057D9F, 0x690624F8, 0x1CB0BAFD, 0x7B0DBDC6, 0x810F23BB,
    0xFA929A1A, 0x6D969A17, 0x6742979B, 0x74AC7D05, 0x010E65C4, 0x86A3D963,
    0xF907B5A0, 0xD0042BD3, 0x158D7D03, 0x287A8255, 0xBBA8366F, 0x096EDC33,
    0x21916A7B, 0x77B56B86, 0x951622F9, 0xA6C5E650, 0x8CEA17D1, 0xCD8C62BC,
    0xA3D63433, 0x358A68FD, 0x0F9B9D3C, 0xD6AA295B, 0xFE33384A, 0xC000738E,
    0xCD67EB2F, 0xE2EB6DC2, 0x97338B02, 0x06C9F246, 0x419CF1AD, 0x2B83C045,
    0x3723F18A, 0xCB5B3089, 0x160BEAD7, 0x5D494656, 0x35F8A74B, 0x1E4E6C9E,
    0x000399BD, 0x67466880, 0xB4174831, 0xACF423B2, 0xCA815AB3, 0x5A6395E7,
    0x302A67C5, 0x8BDB446B, 0x108F8FA4, 0x10223EDA, 0x92B8B48B, 0x7F38D0EE,
    0xAB2701D4, 0x0262D415, 0xAF224A30, 0xB3D88ABA, 0xF8B2C3AF, 0xDAF7EF70,
    0xCC97D3B7, 0xE9614B6C, 0x2BAEBFF4, 0x70F687CF, 0x386C9156, 0xCE092EE5,
    0x01E87DA6, 0x6CE91E6A, 0xBB7BCC84, 0xC7922C20, 0x9D3B71FD, 0x060E41C6,
    0xD7590F15, 0x4E03BB47, 0x183C198E, 0x63EEB240, 0x2DDBF49A, 0x6D5CBA54,
    0x923750AF, 0xF9E14236, 0x7838162B, 0x59726C72, 0x81B66760, 0xBB2926C1,
    0x48A0CE0D, 0xA6C0496D, 0xAD43507B, 0x718D496A, 0x9DF057AF, 0x44B1BDE6,
    0x054356DC, 0xDE7CED35, 0xD51A138B, 0x62088CC9, 0x35830311, 0xC96EFCA2,
    0x686F86EC, 0x8E77CB68, 0x63E1D6B8, 0xC80F9778, 0x79C491FD, 0x1B4C67F2,
    0x72698D7D, 0x5E368C31, 0xF7D95E2E, 0xA1D3493F, 0xDCD9433E, 0x896F1552,
    0x4BC4CA7A, 0xA6D1BAF4, 0xA5A96DCC, 0x0BEF8B46, 0xA169FDA7, 0x74DF40B7,
    0x4E208804, 0x9A756607, 0x038E87C8, 0x20211E44, 0x8B7AD4BF, 0xC6403F35,
    0x1848E36D, 0x80BDB038, 0x1E62891C, 0x643D2107, 0xBF04D6F8, 0x21092C8C,
    0xF644F389, 0x0778404E, 0x7B78ADB8, 0xA2C52D53, 0x42157ABE, 0xA2253E2E,
    0x7BF3F4AE, 0x80F594F9, 0x953194E7, 0x77EB92ED, 0xB3816930, 0xDA8D9336,
    0xBF447469, 0xF26D9483, 0xEE6FAED5, 0x71371235, 0xDE425F73, 0xB4E59F43,
    0x7DBE2D4E, 0x2D37B185, 0x49DC9A63, 0x98C39D98, 0x1301C9A2, 0x389B1BBF,
    0x0C18588D, 0xA421C1BA, 0x7AA3865C, 0x71E08558, 0x3C5CFCAA, 0x7D239CA4,
    0x0297D9DD, 0xD7DC2830, 0x4B37802B, 0x7428AB54, 0xAEEE0347, 0x4B3FBB85,
    0x692F2F08, 0x134E578E, 0x36D9E0BF, 0xAE8B5FCF, 0xEDB93ECF, 0x2B27248E,
    0x170EB1EF, 0x7DC57FD6, 0x1E760F16, 0xB1136601, 0x864E1B9B, 0xD7EA7319,
    0x3AB871BD, 0xCFA4D76F, 0xE31BD782, 0x0DBEB469, 0xABB96061, 0x5370F85D,
    0xFFB07E37, 0xDA30D0FB, 0xEBC977B6, 0x0B98B40F, 0x3A4D0FE6, 0xDF4FC26B,
    0x159CF22A, 0xC298D6E2, 0x2B78EF6A, 0x61A94AC0, 0xAB561187, 0x14EEA0F0,
    0xDF0D4164, 0x19AF70EE,
};
// clang-format on

inline uint32_t S0(uint32_t byte) {
  return kS[byte];
}
inline uint32_t S1(uint32_t byte) {
  return kS[256 + byte];
}
inline uint32_t Byte(uint32_t w, int n) {
  return (w >> (8 * n)) & 0xFF;
}

struct EOut {
  uint32_t l, m, r;
};

inline EOut EFunction(uint32_t x, uint32_t k1, uint32_t k2) {
  uint32_t m = x + k1;
  uint32_t r = Rotl32(x, 13) * k2;
  uint32_t l = kS[m & 511];
  r = Rotl32(r, 5);
  m = Rotl32(m, int(r & 31));
  l ^= r;
  r = Rotl32(r, 5);
  l ^= r;
  l = Rotl32(l, int(r & 31));
  return {l, m, r};
}

// (d0, d1, d2, d3) := (d1, d2, d3, d0) and its inverse.
template <class W>
[[gnu::always_inline]] inline void RotateWords(W& d0, W& d1, W& d2, W& d3) {
  const W t = d0;
  d0 = d1;
  d1 = d2;
  d2 = d3;
  d3 = t;
}
template <class W>
[[gnu::always_inline]] inline void UnrotateWords(W& d0, W& d1, W& d2, W& d3) {
  const W t = d3;
  d3 = d2;
  d2 = d1;
  d1 = d0;
  d0 = t;
}

// ---------------------------------------------------------------------------------------------
// Decryption over the words W of lane type L, a word (one block) or a vector of words (one block
// per lane): table look-ups gather lane by lane, rotations by a data-dependent amount shift each
// lane by its own.

// Vector values returned from an always-inlined helper never cross a call, so the warning that
// their calling convention differs without the vector instructions does not apply.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
// table[index] in every lane (gathered lane by lane on a vector path).
template <class L, class W>
[[gnu::always_inline]] inline W Sbox(const uint32_t* table, const W& index) {
  W v;
  L::Gather(table, index, v);
  return v;
}

template <class L, class W = typename L::U32>
[[gnu::always_inline]] inline void DecryptWords(const uint32_t* key, W& d0, W& d1, W& d2, W& d3) {
  const uint32_t* s0 = kS;
  const uint32_t* s1 = kS + 256;
  d0 += key[36];
  d1 += key[37];
  d2 += key[38];
  d3 += key[39];

#pragma GCC unroll 8
  for (int i = 7; i >= 0; --i) {
    UnrotateWords(d0, d1, d2, d3);
    Rotl<8>(d0);
    d3 ^= Sbox<L>(s0, (d0 >> 8) & 0xFF);
    d3 += Sbox<L>(s1, (d0 >> 16) & 0xFF);
    d2 += Sbox<L>(s0, d0 >> 24);
    d1 ^= Sbox<L>(s1, d0 & 0xFF);
    if (i == 2 || i == 6) d0 += d3;
    if (i == 3 || i == 7) d0 += d1;
  }

#pragma GCC unroll 16
  for (int i = 15; i >= 0; --i) {
    UnrotateWords(d0, d1, d2, d3);
    Rotl<19>(d0);
    // The E-function of the core round.
    W m = d0 + key[2 * i + 4];
    W r = d0;
    Rotl<13>(r);
    r *= key[2 * i + 5];
    W l = Sbox<L>(kS, m & 511);
    Rotl<5>(r);
    RotlBy(m, r);
    l ^= r;
    Rotl<5>(r);
    l ^= r;
    RotlBy(l, r);
    d2 -= m;
    if (i < 8) {
      d1 -= l;
      d3 ^= r;
    } else {
      d3 -= l;
      d1 ^= r;
    }
  }

#pragma GCC unroll 8
  for (int i = 7; i >= 0; --i) {
    UnrotateWords(d0, d1, d2, d3);
    if (i == 0 || i == 4) d0 -= d3;
    if (i == 1 || i == 5) d0 -= d1;
    Rotl<24>(d0);
    d3 ^= Sbox<L>(s1, d0 >> 24);
    d2 -= Sbox<L>(s0, (d0 >> 16) & 0xFF);
    d1 -= Sbox<L>(s1, (d0 >> 8) & 0xFF);
    d1 ^= Sbox<L>(s0, d0 & 0xFF);
  }

  d0 -= key[0];
  d1 -= key[1];
  d2 -= key[2];
  d3 -= key[3];
}

#pragma GCC diagnostic pop

void PortableDecrypt(const uint32_t* key, const uint8_t* in, uint8_t* out) {
  uint32_t d0 = LoadLe32(in), d1 = LoadLe32(in + 4), d2 = LoadLe32(in + 8), d3 = LoadLe32(in + 12);
  DecryptWords<ScalarLanes>(key, d0, d1, d2, d3);
  StoreLe32(out, d0);
  StoreLe32(out + 4, d1);
  StoreLe32(out + 8, d2);
  StoreLe32(out + 12, d3);
}

// A group of independent blocks on a vector path: four registers of consecutive blocks,
// transposed to one word per register and back.
struct DecryptGroup {
  static constexpr std::size_t kBlock = 16;
  static constexpr std::size_t kRegisters = 4;
  const uint32_t* key;

#ifdef KRYVANE_X86_VECTORS
  template <class L>
  [[gnu::always_inline]] void Group(const uint8_t* in, uint8_t* out) const {
    typename L::U32 d[4];
    LoadWords<L>(in, d);
    DecryptWords<L>(key, d[0], d[1], d[2], d[3]);
    StoreWords<L>(d, out);
  }
#endif
};

}  // namespace

bool Mars::SelfTest() {
  struct Vector {
    uint8_t key[32];
    uint32_t bits;
    uint8_t plain[16];
    uint8_t cipher[16];
  };
  // Keys and plaintexts of the designers' published test vectors; the ciphertexts are those of
  // this key schedule.
  // clang-format off
  static constexpr Vector kVectors[3] = {
      {{0x32, 0x51, 0xB3, 0xDE, 0xDE, 0x96, 0xC2, 0x83, 0x6B, 0x9E, 0x06, 0x39, 0x38, 0x24, 0x4C, 0x99},
       128,
       {0x32, 0x51, 0xB3, 0xDE, 0xDE, 0x96, 0xC2, 0x83, 0x6B, 0x9E, 0x06, 0x39, 0x38, 0x24, 0x4C, 0x99},
       {0xF9, 0x45, 0x12, 0xA9, 0xB4, 0x2D, 0x03, 0x4E, 0xC4, 0x79, 0x22, 0x04, 0xD7, 0x08, 0xA6, 0x9B}},
      {{0x79, 0x17, 0x39, 0xA5, 0x8B, 0x04, 0x58, 0x1A, 0x93, 0xA9, 0x53, 0xA8, 0x2C, 0x10, 0x41, 0x1D, 0xD1, 0x58, 0x86, 0x08, 0x38, 0x87, 0x4D, 0x95},
       192,
       {0x67, 0x61, 0xC4, 0x2D, 0x3E, 0x61, 0x42, 0xD2, 0xA8, 0x4F, 0xBF, 0xAD, 0xB3, 0x83, 0x15, 0x8F},
       {0xCB, 0x34, 0x03, 0x26, 0x45, 0x7F, 0x58, 0x6D, 0x54, 0xBD, 0xD2, 0xE0, 0x57, 0x1C, 0x19, 0xBD}},
      {{0xFB, 0xA1, 0x67, 0x98, 0x3E, 0x7A, 0xEF, 0x22, 0x31, 0x7C, 0xE2, 0x8C, 0x02, 0xAA, 0xE1, 0xA3, 0xE8, 0xE5, 0xCC, 0x3C, 0xED, 0xBE, 0xA8, 0x2A, 0x99, 0xDB, 0xC3, 0x9A, 0xD6, 0x5E, 0x72, 0x27},
       256,
       {0x13, 0x44, 0xAB, 0xA4, 0xD3, 0xC4, 0x47, 0x08, 0xA8, 0xA7, 0x21, 0x16, 0xD4, 0xF4, 0x93, 0x84},
       {0xDD, 0xAC, 0xA1, 0x67, 0xE3, 0x63, 0x31, 0xBE, 0x2C, 0x1C, 0x9F, 0x5F, 0xE3, 0x8F, 0xA4, 0xB8}},
  };
  // clang-format on
  bool ok = true;
  try {
    // One instance for all three keys, so re-keying after Wipe is exercised as well.
    Mars c;
    uint8_t buf[16];
    for (const Vector& v : kVectors) {
      c.Init(v.key, v.bits);
      c.EncryptBlock(v.plain, buf);
      ok = ok && std::memcmp(buf, v.cipher, 16) == 0;
      c.DecryptBlock(buf, buf);
      ok = ok && std::memcmp(buf, v.plain, 16) == 0;
      c.Wipe();
    }
  } catch (...) {
    return false;
  }
  return ok;
}

uint32_t Mars::FixupMask(uint32_t w) {
  uint32_t runs = 0;
  for (int i0 = 0; i0 + 9 <= 31; ++i0) {
    const uint32_t field = (w >> i0) & 0x3FF;
    if (field == 0 || field == 0x3FF) runs |= 0x3FFu << i0;
  }
  // Bit l of (w << 1) is bit l-1 of w, bit l of (w >> 1) is bit l+1; both shift in zeros.
  const uint32_t sameAsNeighbours = ~(w ^ (w << 1)) & ~(w ^ (w >> 1));
  return runs & sameAsNeighbours & ~3u;
}

void Mars::ExpandKey(const uint8_t* key, uint32_t bits) {
  const uint32_t n = bits / 8 / 4;  // whole key words; trailing bytes are ignored
  uint32_t k[kMaxKeySize / 32] = {};
  for (uint32_t i = 0; i < n; ++i) k[i] = LoadLe32(key + 4 * i);

  uint32_t t[47];
  for (int i = 0; i < 7; ++i) t[i] = kS[i];
  for (uint32_t i = 0; i < 39; ++i) t[i + 7] = Rotl32(t[i] ^ t[i + 5], 3) ^ k[i % n] ^ i;
  t[46] = n;
  for (int pass = 0; pass < 7; ++pass) {
    for (int j = 8; j <= 46; ++j) t[j] = Rotl32(t[j] + kS[t[j - 1] & 511], 9);
    t[7] = Rotl32(t[7] + kS[t[46] & 511], 9);
  }
  for (int i = 0; i < 40; ++i) subKeys_[(7 * i) % 40] = t[i + 7];

  // Multiplication keys: force the two low bits and break up long runs of equal bits.
  for (int i = 5; i <= 35; i += 2) {
    const uint32_t j = subKeys_[i] & 3;
    const uint32_t w = subKeys_[i] | 3;
    const int r = int(subKeys_[i + 3] & 31);
    subKeys_[i] = (Rotl32(kS[265 + j], r) & FixupMask(w)) ^ w;
  }
  SecureZeroObject(k);
  SecureZeroObject(t);
  isa_ = cpu::VectorIsa(PlannedPaths().decrypt);
}

void Mars::EncryptBlockImpl(const uint8_t* in, uint8_t* out) const {
  const SubKeyArray& key = subKeys_;
  uint32_t d0 = LoadLe32(in) + key[0], d1 = LoadLe32(in + 4) + key[1],
           d2 = LoadLe32(in + 8) + key[2], d3 = LoadLe32(in + 12) + key[3];

  for (int i = 0; i < 8; ++i) {
    d1 ^= S0(Byte(d0, 0));
    d1 += S1(Byte(d0, 1));
    d2 += S0(Byte(d0, 2));
    d3 ^= S1(Byte(d0, 3));
    d0 = Rotr32(d0, 24);
    if (i == 0 || i == 4) d0 += d3;
    if (i == 1 || i == 5) d0 += d1;
    RotateWords(d0, d1, d2, d3);
  }

  for (int i = 0; i < 16; ++i) {
    const EOut e = EFunction(d0, key[2 * i + 4], key[2 * i + 5]);
    d0 = Rotl32(d0, 13);
    d2 += e.m;
    if (i < 8) {
      d1 += e.l;
      d3 ^= e.r;
    } else {
      d3 += e.l;
      d1 ^= e.r;
    }
    RotateWords(d0, d1, d2, d3);
  }

  for (int i = 0; i < 8; ++i) {
    if (i == 2 || i == 6) d0 -= d3;
    if (i == 3 || i == 7) d0 -= d1;
    d1 ^= S1(Byte(d0, 0));
    d2 -= S0(Byte(d0, 3));
    d3 -= S1(Byte(d0, 2));
    d3 ^= S0(Byte(d0, 1));
    d0 = Rotl32(d0, 24);
    RotateWords(d0, d1, d2, d3);
  }

  StoreLe32(out, d0 - key[36]);
  StoreLe32(out + 4, d1 - key[37]);
  StoreLe32(out + 8, d2 - key[38]);
  StoreLe32(out + 12, d3 - key[39]);
}

void Mars::DecryptBlockImpl(const uint8_t* in, uint8_t* out) const {
  PortableDecrypt(subKeys_.data(), in, out);
}

void Mars::DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const {
  const uint32_t* k = subKeys_.data();
  const auto one = [k](const uint8_t* p, uint8_t* q) { PortableDecrypt(k, p, q); };
  RunGroupsOnPath(LanePaths<Avx512Lanes, Avx2Lanes>{}, isa_, DecryptGroup{k}, one, in, out, n);
}

void Mars::WipeKey() {
  subKeys_.Wipe();
  isa_ = cpu::Isa::kPortable;
}

}  // namespace kryvane
