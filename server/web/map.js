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

    // People standing in the same place share one marker: their names would hide one another.
    var places = [];
    var byPosition = {};
    people.forEach(function (entry) {
        var key = entry.person.lat.toFixed(5) + "," + entry.person.lon.toFixed(5);
        if (!byPosition[key]) {
            byPosition[key] = { lat: entry.person.lat, lon: entry.person.lon, entries: [] };
            places.push(byPosition[key]);
        }
        if (entry.self) byPosition[key].entries.unshift(entry); else byPosition[key].entries.push(entry);
    });

    var points = places.map(function (place) { return [place.lat, place.lon]; });
    if (points.length === 0) {
        map.setView([55.7558, 37.6173], 11);
    } else if (points.length === 1) {
        map.setView(points[0], 15);
    } else {
        map.fitBounds(points, { padding: [40, 40], maxZoom: 16 });
    }

    var nameOf = function (entry) { return entry.self ? "Вы" : entry.person.name; };
    places.forEach(function (place) {
        var self = place.entries[0].self;
        var marker = L.circleMarker([place.lat, place.lon], {
            radius: self ? 9 : 8,
            color: self ? "#1d2733" : "#ffffff",
            weight: 2,
            fillColor: self ? "#f2b705" : "#1f6f5c",
            fillOpacity: 0.95
        }).addTo(map);
        marker.bindTooltip(escape(place.entries.map(nameOf).join(", ")),
                           { permanent: true, direction: "top", offset: [0, -8], className: "person-label" });
        marker.bindPopup(place.entries.map(function (entry) {
            var line = nameOf(entry);
            if (entry.person.address) line += " — " + entry.person.address;
            if (entry.person.distance_km !== undefined && entry.person.distance_km !== null) {
                line += ", " + entry.person.distance_km + " км";
            }
            return escape(line);
        }).join("<br>"));
        marker.getElement().setAttribute("data-people", place.entries.map(function (entry) {
            return entry.self ? "self" : String(entry.person.id);
        }).join(" "));
    });
})();
