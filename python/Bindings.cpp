// The binding of the Python module densepack: runs in a child process, the exact meshes of
// densepack-check and densepack-analyze, pair queries on them, and the registries.

#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "algorithms/compression/CompressionAlgorithm.h"
#include "app/Config.h"
#include "app/Heuristics.h"
#include "app/Scene.h"
#include "collision/ColGeometry.h"
#include "collision/MeshOverlap.h"
#include "python/RunChild.h"
#include "statistics/Json.h"
#include "statistics/Structure.h"
#include "tools/check/LoadScene.h"

namespace py = pybind11;
using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector4;

namespace {

/// What the module raises for the program's own failures; its text is the program's line.
struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// One exact mesh with its triangles (for shape descriptions the mesh itself does not keep).
struct Mesh {
    check::CheckMesh exact;
    std::vector<Point3> points;
    std::vector<std::array<unsigned, 3>> triangles;
    std::string path;

    void Fan(const std::vector<std::vector<unsigned>>& polygons) {
        for (const auto& poly : polygons) {
            bool inRange = true;
            for (unsigned i : poly) inRange = inRange && i < points.size();
            if (!inRange) continue;
            for (size_t k = 1; k + 1 < poly.size(); ++k) triangles.push_back({poly[0], poly[k], poly[k + 1]});
        }
    }
};
using MeshPtr = std::shared_ptr<Mesh>;

MeshPtr LoadMesh(const std::string& path) {
    col::ColGeometry geometry;
    const int rc = col::loadGeometryFromFile(&geometry, path.c_str());
    if (rc < 0) throw Error(rc == -1 ? "cannot open " + path : "cannot read " + path);
    auto mesh = std::make_shared<Mesh>();
    mesh->points = geometry.getPoints();
    mesh->path = path;
    std::string err;
    if (!mesh->exact.Build(mesh->points, geometry.getPrimitives(), err)) throw Error(path + ": " + err);
    mesh->Fan(geometry.getPrimitives());
    return mesh;
}

MeshPtr MeshFromArrays(py::array_t<float, py::array::c_style | py::array::forcecast> vertices,
                       py::array_t<int64_t, py::array::c_style | py::array::forcecast> faces) {
    if (vertices.ndim() != 2 || vertices.shape(1) != 3) throw py::value_error("vertices must have shape (V, 3)");
    if (faces.ndim() != 2 || faces.shape(1) < 3) throw py::value_error("faces must have shape (F, k), k >= 3");
    auto mesh = std::make_shared<Mesh>();
    auto v = vertices.unchecked<2>();
    for (py::ssize_t i = 0; i < v.shape(0); ++i) mesh->points.emplace_back(v(i, 0), v(i, 1), v(i, 2));
    auto f = faces.unchecked<2>();
    std::vector<std::vector<unsigned>> polygons(static_cast<size_t>(f.shape(0)));
    for (py::ssize_t i = 0; i < f.shape(0); ++i)
        for (py::ssize_t k = 0; k < f.shape(1); ++k) {
            if (f(i, k) < 0 || f(i, k) >= v.shape(0)) throw py::value_error("face index out of range");
            polygons[static_cast<size_t>(i)].push_back(static_cast<unsigned>(f(i, k)));
        }
    std::string err;
    if (!mesh->exact.Build(mesh->points, polygons, err)) throw Error(err);
    mesh->Fan(polygons);
    return mesh;
}

/// A 4x4 model matrix given row by row, as numpy writes it.
Matrix4 MatrixOf(py::array_t<float, py::array::c_style | py::array::forcecast> a) {
    if (a.ndim() != 2 || a.shape(0) != 4 || a.shape(1) != 4) throw py::value_error("a pose matrix has shape (4, 4)");
    auto m = a.unchecked<2>();
    Matrix4 out;
    for (int c = 0; c < 4; ++c) out.setCol(c, Vector4(m(0, c), m(1, c), m(2, c), m(3, c)));
    return out;
}

/// Placement rows (type index, then three matrices column by column) as the tools read them.
std::vector<check::PlacedObject> Objects(py::array_t<int32_t, py::array::c_style | py::array::forcecast> typeIds,
                                         py::array_t<float, py::array::c_style | py::array::forcecast> rows,
                                         size_t typeCount) {
    if (rows.ndim() != 2 || rows.shape(1) != 48 || typeIds.ndim() != 1 || typeIds.shape(0) != rows.shape(0))
        throw py::value_error("a placement is N type indices and N rows of 48 numbers");
    auto t = typeIds.unchecked<1>();
    auto r = rows.unchecked<2>();
    std::vector<check::PlacedObject> out;
    for (py::ssize_t i = 0; i < r.shape(0); ++i) {
        if (t(i) < 0 || static_cast<size_t>(t(i)) >= typeCount) throw py::value_error("type index out of range");
        Matrix4 m[3];
        for (int k = 0; k < 3; ++k)
            for (int c = 0; c < 4; ++c)
                m[k].setCol(c, Vector4(r(i, 16 * k + 4 * c), r(i, 16 * k + 4 * c + 1), r(i, 16 * k + 4 * c + 2),
                                       r(i, 16 * k + 4 * c + 3)));
        out.push_back({t(i), m[0] * m[1] * m[2]});
    }
    return out;
}

check::CheckScene SceneOf(const std::vector<MeshPtr>& types, const MeshPtr& container) {
    check::CheckScene scene;
    for (const MeshPtr& m : types) {
        scene.types.push_back(m->exact);
        scene.typeNames.push_back(m->path);
    }
    scene.container = container->exact;
    return scene;
}

/// The types of a configuration in the run's order (as densepack-check orders them) and the container.
py::tuple LoadSceneOf(const std::string& configPath) {
    check::CheckScene scene;
    std::string err;
    if (!check::LoadScene(configPath, scene, err)) throw Error(err);
    ConfigData config;
    std::string path = configPath;
    LoadConfig(path, config);
    std::vector<MeshPtr> types;
    for (const std::string& name : scene.typeNames) types.push_back(LoadMesh(TypeMeshPath(config.modelPath, name)));
    return py::make_tuple(scene.typeNames, types, LoadMesh(config.modelPath + config.containerName + ".obj"));
}

py::tuple RunChild(const std::vector<std::string>& args, const std::function<bool(py::object, bool)>& listen,
                   double heartbeat) {
    pydp::ChildResult result;
    {
        py::gil_scoped_release release;
        result = pydp::RunInChild(
            args,
            [&](const pydp::ChildOutput& o) {
                py::gil_scoped_acquire acquire;
                // Ctrl-C in the interpreter stops the run.
                if (PyErr_CheckSignals() != 0) throw py::error_already_set();
                return listen(o.line ? py::object(py::str(*o.line)) : py::object(py::none()), o.standardError);
            },
            heartbeat);
    }
    return py::make_tuple(result.status, result.stopped);
}

std::vector<std::string> Split(const std::string& names) {
    std::vector<std::string> out;
    for (size_t start = 0; start < names.size();) {
        const size_t comma = names.find(", ", start);
        out.push_back(names.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        start = comma == std::string::npos ? names.size() : comma + 2;
    }
    return out;
}

// The [Compression] keys with their defaults; ParseSettings is the authority on names and ranges.
py::dict CompressionDefaults() {
    py::dict d;
    for (const Packing::compression::SettingDefault& k : Packing::compression::SettingDefaults()) {
        if (k.whole)
            d[py::str(k.name)] = static_cast<int>(k.value);
        else
            d[py::str(k.name)] = k.value;
    }
    return d;
}

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "densepack's C++ core; use the densepack package.";
    py::register_exception<Error>(m, "Error", PyExc_RuntimeError);

    py::class_<Mesh, MeshPtr>(m, "Mesh", "A closed triangle mesh for exact queries.")
        .def(py::init(&LoadMesh), py::arg("path"), "Reads an OBJ file.")
        .def_static("from_arrays", &MeshFromArrays, py::arg("vertices"), py::arg("faces"),
                    "From (V, 3) vertices and (F, k) polygons (fanned into triangles).")
        .def_property_readonly("path", [](const Mesh& s) { return s.path; })
        .def_property_readonly("vertices",
                               [](const Mesh& s) {
                                   py::array_t<float> a({static_cast<py::ssize_t>(s.points.size()), py::ssize_t{3}});
                                   auto w = a.mutable_unchecked<2>();
                                   for (size_t i = 0; i < s.points.size(); ++i)
                                       for (int k = 0; k < 3; ++k) w(i, k) = s.points[i][k];
                                   return a;
                               })
        .def_property_readonly(
            "faces",
            [](const Mesh& s) {
                py::array_t<uint32_t> a({static_cast<py::ssize_t>(s.triangles.size()), py::ssize_t{3}});
                auto w = a.mutable_unchecked<2>();
                for (size_t i = 0; i < s.triangles.size(); ++i)
                    for (int k = 0; k < 3; ++k) w(i, k) = s.triangles[i][static_cast<size_t>(k)];
                return a;
            })
        .def_property_readonly("volume", [](const Mesh& s) { return s.exact.Volume(); })
        .def_property_readonly("radius", [](const Mesh& s) { return s.exact.Radius(); })
        .def_property_readonly("convex", [](const Mesh& s) { return s.exact.Exact().convex() != nullptr; })
        .def("contains", [](const Mesh& s, float x, float y, float z) { return s.exact.Inside(Point3(x, y, z)); });

    m.def("load_scene", &LoadSceneOf, py::arg("config"));
    m.def("check_placement", [](const std::string& path, size_t typeCount) {
        std::vector<check::PlacedObject> objects;
        std::string err;
        if (!check::LoadPlacement(path, typeCount, objects, err)) throw Error(err);
        return objects.size();
    });
    m.def("check", [](const std::vector<MeshPtr>& types, const MeshPtr& container, py::array_t<int32_t> typeIds,
                      py::array_t<float> rows) {
        const std::vector<check::PlacedObject> objects = Objects(typeIds, rows, types.size());
        const check::CheckScene scene = SceneOf(types, container);
        check::CheckResult r;
        {
            py::gil_scoped_release release;
            r = check::CheckPacking(scene, objects);
        }
        std::vector<std::tuple<size_t, size_t, float>> pairs;
        for (const check::PairFinding& p : r.pairs) pairs.emplace_back(p.a, p.b, p.depth);
        std::vector<std::tuple<size_t, float>> outside;
        for (const check::OutsideFinding& o : r.outside) outside.emplace_back(o.object, o.depth);
        return py::make_tuple(pairs, outside);
    });
    m.def("analyze", [](const std::vector<MeshPtr>& types, const MeshPtr& container,
                        const std::vector<std::string>& names, py::array_t<int32_t> typeIds, py::array_t<float> rows,
                        double margin, uint64_t seed, long samples, double contactTolerance) {
        const std::vector<check::PlacedObject> objects = Objects(typeIds, rows, types.size());
        const check::CheckScene scene = SceneOf(types, container);
        check::StructureOptions options;
        options.margin = margin;
        options.seed = seed;
        options.samples = samples;
        options.contactTolerance = contactTolerance;
        py::gil_scoped_release release;
        return ::JsonDump(check::StructureToJson(check::AnalyzeStructure(scene, objects, options), names));
    });
    m.def("overlap", [](const MeshPtr& a, py::array_t<float> poseA, const MeshPtr& b, py::array_t<float> poseB) {
        col::ExactOverlapQuery q;
        q.a = &a->exact.Exact();
        q.X_WA = col::ScaledPose::fromMatrix(MatrixOf(poseA));
        q.b = &b->exact.Exact();
        q.X_WB = col::ScaledPose::fromMatrix(MatrixOf(poseB));
        q.wantDepth = true;
        const col::ExactOverlapResult r = col::exactOverlap(q);
        return py::make_tuple(r.overlap, r.depth);
    });
    m.def("distance", [](const MeshPtr& a, py::array_t<float> poseA, const MeshPtr& b, py::array_t<float> poseB) {
        const Matrix4 ma = MatrixOf(poseA), mb = MatrixOf(poseB);
        const col::MeshDistanceResult d = col::meshDistance(a->exact.Tree(), b->exact.Tree(), inverse(mb) * ma);
        // In b's model units; the world has b's scale on top.
        return d.distance * length(mb.getUpper3x3().getCol0());
    });
    m.def("run_child", &RunChild, py::arg("args"), py::arg("listen"), py::arg("heartbeat"));
    m.def("construction_heuristics", [] { return Split(ConstructionHeuristicNames()); });
    m.def("improvement_heuristics", [] { return Split(ImprovementHeuristicNames()); });
    m.def("compression_defaults", &CompressionDefaults);
    m.def("check_compression", [](const std::string& line) {
        Packing::compression::CompressionSettings s;
        std::string err;
        return Packing::compression::ParseSettings(line, s, err) ? std::string() : err;
    });
}
