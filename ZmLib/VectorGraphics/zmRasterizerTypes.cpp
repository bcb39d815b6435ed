#include "ZmLib/VectorGraphics/zmRasterizerTypes.h"

namespace zm {

TMatrix IdentityMatrix() { return TMatrix{}; }

TMatrix TranslationMatrix(float dx, float dy) {
  TMatrix m;
  m.M[6] = dx;
  m.M[7] = dy;
  return m;
}

TMatrix ScalingMatrix(float sx, float sy) {
  TMatrix m;
  m.M[0] = sx;
  m.M[4] = sy;
  return m;
}

TFloatPoint TransformPoint(const TMatrix& m, float x, float y) {
  return {x * m.M[0] + y * m.M[3] + m.M[6], x * m.M[1] + y * m.M[4] + m.M[7]};
}

TMatrix MultiplyMatrix(const TMatrix& a, const TMatrix& b) {
  TMatrix r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      r.M[i * 3 + j] = a.M[i * 3] * b.M[j] + a.M[i * 3 + 1] * b.M[3 + j] + a.M[i * 3 + 2] * b.M[6 + j];
  return r;
}

void AddPathPoint(TPathPoints& points, float x, float y, std::int32_t code) {
  if (points.size() == points.capacity()) points.reserve(points.empty() ? 16 : points.capacity() * 2);
  points.push_back({x, y, code});
}

}  // namespace zm
