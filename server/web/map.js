// The map page: everybody the user may see, as markers with their names. The people come with the
// page (the same document as GET /api/v1/groups); the tiles from the service's tile address. When
// the tiles cannot be had the markers still stand, and the list under the map says the rest.
"use strict";

(function () {
    var element = document.getElementById("map");
    var data = JSON.parse(document.getElementById("map-people").textContent);
    if (!element) return;
    if (!window.L) {
        element.hidden = true;
        document.getElementById("map-note").hidden = false;
        return;
    }
    var map = L.map(element, { scrollWheelZoom: false });
    L.tileLayer(element.getAttribute("data-tiles"), {
        maxZoom: 19,
        attribution: "&copy; участники OpenStreetMap"
    }).addTo(map);

    // Names and addresses are people's own words: never markup.
    var escape = function (text) {
        var span = document.createElement("span");
        span.textContent = text;
        return span.innerHTML;
    };
    // Everybody with a known place, each once (a person may share several groups with the user).
    var people = [];
    var seen = {};
    data.groups.forEach(function (group) {
        group.members.forEach(function (member) {
            if (seen[member.id] || member.lat === null || member.lon === null) return;
            seen[member.id] = true;
            people.push({ person: member, self: false });
        });
    });
    if (data.self) people.push({ person: data.self, self: true });

    var points = people.map(function (entry) { return [entry.person.lat, entry.person.lon]; });
    if (points.length === 0) {
        map.setView([55.7558, 37.6173], 11);
    } else if (points.length === 1) {
        map.setView(points[0], 15);
    } else {
        map.fitBounds(points, { padding: [40, 40], maxZoom: 16 });
    }

    people.forEach(function (entry) {
        var person = entry.person;
        var self = entry.self;
        var marker = L.circleMarker([person.lat, person.lon], {
            radius: self ? 9 : 8,
            color: self ? "#1d2733" : "#ffffff",
            weight: 2,
            fillColor: self ? "#f2b705" : "#1f6f5c",
            fillOpacity: 0.95
        }).addTo(map);
        marker.bindTooltip(self ? "Вы" : escape(person.name), { permanent: true, direction: "top", offset: [0, -8],
                                                              className: "person-label" });
        var lines = [self ? "Вы" : person.name];
        if (person.address) lines.push(person.address);
        if (person.distance_km !== undefined && person.distance_km !== null) lines.push(person.distance_km + " км");
        marker.bindPopup(lines.map(escape).join("<br>"));
        marker.getElement().setAttribute("data-person", self ? "self" : String(person.id));
    });
})();
