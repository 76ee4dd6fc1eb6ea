// Vectors of doubles for the library's kernels, in GCC's and Clang's vector
// extension: every operation on one is its lanes' separate IEEE
// operations, so that a kernel over lanes gives the scalar code's results.
// Private to the library.
#ifndef LOPPER_LANES_H
#define LOPPER_LANES_H

#include <cmath>
#include <cstdint>
#include <cstring>

namespace lopper {
namespace detail {

// Two doubles to a register on every x86-64 processor (Twin); four where
// it has AVX2 (Quad), used only in LOPPER_AVX2 code: elsewhere a Quad
// passed or returned by value would change the ABI.
using Twin = double __attribute__((vector_size(16)));
using Quad = double __attribute__((vector_size(32)));

// The like of V in 64-bit masks; a cast between the two keeps the bits.
template <class V>
struct BitsOf;
template <>
struct BitsOf<Twin> {
  using type = std::int64_t __attribute__((vector_size(16)));
};
template <>
struct BitsOf<Quad> {
  using type = std::int64_t __attribute__((vector_size(32)));
};
template <class V>
using Bits = typename BitsOf<V>::type;

// Doubles in a V (1 for a double).
template <class V>
constexpr int kWidth = sizeof(V) / sizeof(double);

// *to from memory at `from`, and back, with no claim on alignment.
template <class T>
void Load(T* to, const void* from) {
  std::memcpy(to, from, sizeof *to);
}
template <class T>
void Store(void* to, const T& from) {
  std::memcpy(to, &from, sizeof from);
}

// t made |t|, lane by lane: the sign bits cleared, as std::fabs does.
inline void Magnitude(double& t) { t = std::fabs(t); }
template <class V>
void Magnitude(V& t) {
  t = (V)((Bits<V>)t & INT64_MAX);
}

// A difference d made the term it adds to a sum of 'e', 'Q' and 'E' (d
// squared) or, with kAbsolute, of 'b' and 'B' (|d|), lane by lane: with
// unit weights the whole of what a dimension adds, as Measure adds it (1 *
// t is t). Every kernel of those codes takes its terms from here; in place,
// as a Quad must not be returned by value.
template <bool kAbsolute, class V>
void DifferenceTerm(V& d) {
  if (kAbsolute)
    Magnitude(d);
  else
    d *= d;
}

}  // namespace detail
}  // namespace lopper

#endif
